#pragma once

#include <cstdint>
#include <memory>

// Park and Leemis' multi-stream Lehmer generator (modulus 2^31 - 1,
// multiplier 48271): independent streams whose start states lie 8,367,782
// steps apart on the generator's single cycle. Deterministic by default.
class Randomizer final
{
public:
    explicit Randomizer(unsigned streams);
    Randomizer(unsigned streams, bool cycleStreams);
    ~Randomizer();

    Randomizer(const Randomizer&) = delete;
    Randomizer& operator=(const Randomizer&) = delete;
    Randomizer(Randomizer&&) = delete;
    Randomizer& operator=(Randomizer&&) = delete;

    // A uniform draw in (0, 1) from the current stream.
    double random();
    void plantSeeds(long x);
    void putSeed(long x);
    // Back to the state of construction: the default seed, the first stream.
    void restart();
    double normal(double mean, double sigma);
    // Prints the verdict of the published check values and 1000 draws.
    void test();

    unsigned streams() const { return streamCount; }
    unsigned currentStream() const { return stream; }
    int32_t seed(unsigned streamIndex) const { return seeds[streamIndex]; }

private:
    bool initialized = false;
    bool cycleStreams = false;
    uint32_t streamCount = 0;
    uint32_t stream = 0;
    std::unique_ptr<int32_t[]> seeds;
};
