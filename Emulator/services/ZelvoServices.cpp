#include "services/ZelvoServices.h"

#include "pose/ZelvoHeadMotion.h"
#include "record/ZelvoRecorder.h"
#include "recording/ZelvoDisplayHistory.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "recording/ZelvoSessionRecorder.h"
#include "util/ZelvoImageWriter.h"

ZelvoServices::ZelvoServices(ZelvoClock::Mode mode)
    : clock(std::make_unique<ZelvoClock>(mode))
    , recorder(std::make_unique<ZelvoRecorder>(ZelvoRecorder::defaultCapacity, clock.get()))
    , pictureWriter(std::make_unique<ZelvoImageWriter>())
    , headMotion(std::make_unique<ZelvoHeadMotion>(clock.get()))
    , displayRecorder(std::make_unique<ZelvoDisplayRecorder>(clock.get()))
    , sessionRecorder(std::make_unique<ZelvoSessionRecorder>(recorder.get()))
    , displayHistory(std::make_unique<ZelvoDisplayHistory>(recorder.get(), clock.get()))
{
    displayRecorder->followRecord(recorder.get());
}

ZelvoServices::~ZelvoServices() = default;
