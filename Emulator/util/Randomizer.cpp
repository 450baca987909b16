#include "util/Randomizer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr int32_t modulus = 2147483647;
constexpr int32_t multiplier = 48271;
constexpr int32_t multiplierQ = modulus / multiplier;
constexpr int32_t multiplierR = modulus % multiplier;
// 48271^8367782 mod m: one jump takes a stream's start to the next one's.
constexpr int32_t jumpMultiplier = 22925;
constexpr int32_t jumpQ = modulus / jumpMultiplier;
constexpr int32_t jumpR = modulus % jumpMultiplier;
constexpr long defaultSeed = 123456789;
constexpr int32_t checkValue = 399268537;

static_assert(multiplierQ == 44488 && multiplierR == 3399);
static_assert(jumpQ == 93674 && jumpR == 7197);

// Schrage's method: a * s mod m without a product beyond 32 bits.
int32_t multiplyModulo(int32_t s, int32_t a, int32_t q, int32_t r)
{
    int32_t t = a * (s % q) - r * (s / q);
    if (t <= 0)
        t += modulus;
    return t;
}

} // namespace

Randomizer::Randomizer(unsigned streams)
    : Randomizer(streams, false)
{
}

Randomizer::Randomizer(unsigned streams, bool cycleStreams)
    : cycleStreams(cycleStreams)
    // Without a stream there is no state to draw from; one is the least.
    , streamCount(std::max(streams, 1u))
    , seeds(std::make_unique<int32_t[]>(streamCount))
{
    plantSeeds(defaultSeed);
}

Randomizer::~Randomizer() = default;

double Randomizer::random()
{
    if (cycleStreams)
        stream = (stream + 1) % streamCount;
    seeds[stream] = multiplyModulo(seeds[stream], multiplier, multiplierQ, multiplierR);
    return seeds[stream] / double(modulus);
}

void Randomizer::plantSeeds(long x)
{
    const uint32_t remembered = stream;
    initialized = true;
    stream = 0;
    putSeed(x);
    stream = remembered;
    for (uint32_t j = 1; j < streamCount; ++j)
        seeds[j] = multiplyModulo(seeds[j - 1], jumpMultiplier, jumpQ, jumpR);
}

void Randomizer::restart()
{
    stream = 0;
    plantSeeds(defaultSeed);
}

void Randomizer::putSeed(long x)
{
    if (x > 0)
        seeds[stream] = int32_t(x % modulus);
    else
        seeds[stream] = int32_t(uint32_t(std::time(nullptr)) % uint32_t(modulus));
}

double Randomizer::normal(double mean, double sigma)
{
    const double u = random();
    const double t = u < 0.5 ? std::sqrt(-2.0 * std::log(u)) : std::sqrt(-2.0 * std::log(1.0 - u));
    const double p = 0.322232431088
                     + t * (1.0 + t * (0.342242088547 + t * (0.0204231210245 + t * 0.0000453642210148)));
    const double q = 0.099348462606
                     + t * (0.588581570495 + t * (0.531103462366 + t * (0.10353775285 + t * 0.0038560700634)));
    const double z = u < 0.5 ? p / q - t : t - p / q;
    return mean + sigma * z;
}

void Randomizer::test()
{
    stream = 0;
    putSeed(1);
    for (int i = 0; i < 10000; ++i)
        random();
    const bool firstCheck = seeds[stream] == checkValue;

    stream = 1 % streamCount;
    if (!initialized && stream != 0)
        plantSeeds(defaultSeed);
    plantSeeds(1);
    const bool secondCheck = seeds[stream] == jumpMultiplier;

    if (firstCheck && secondCheck)
        std::printf("\n\033[96m The implementation of Randomizer is correct.\033[0m\n\n");
    else
        std::printf("\n\a ERROR -- the implementation of Randomizer is not correct.\n\n");

    for (int i = 0; i < 1000; ++i) {
        const uint32_t drawnFrom = stream;
        const double u = random();
        std::printf("random number %d = %f -- stream(%d)\n", i, u, int(drawnFrom));
    }
}
