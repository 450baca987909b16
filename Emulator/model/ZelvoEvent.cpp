#include "model/ZelvoEvent.h"

ZelvoEvent::ZelvoEvent(int type)
    : type(type)
{
}
