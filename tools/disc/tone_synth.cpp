#include "tools/disc/tone_synth.h"

#include <cmath>

namespace td_disc {

namespace {

constexpr double kRate = 44100.0;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kSemitonesPerOctave = 12.0;
constexpr uint32_t kNoteSamples = 13230; // 0.3 s
constexpr uint32_t kPhraseNotes = 8;
constexpr uint32_t kPhraseSamples = kNoteSamples * kPhraseNotes;
constexpr uint32_t kPhrasesInTheme = 4; // the melody comes back after four phrases
constexpr int kScale[] = {0, 2, 4, 7, 9, 12, 14, 16, 19, 21}; // major pentatonic, two octaves
constexpr int kScaleSteps = sizeof kScale / sizeof kScale[0];
constexpr int kStartDegree = 3;
constexpr uint32_t kStepChoices = 5; // a melody moves by at most two degrees
constexpr int kStepBias = 2;
constexpr double kMelodyHz = 220.0;
constexpr double kBassHz = 110.0;
constexpr int kKeyStep = 5; // each track a fourth above the last, folded into an octave
constexpr int kKeyCentre = 5;
constexpr int kFifth = 7;
constexpr double kMelodyAmp = 6000.0;
constexpr double kBassAmp = 2600.0;
constexpr double kAttack = 441.0;        // 10 ms
constexpr double kMelodyDecay = 11025.0; // 0.25 s
constexpr double kBassAttack = 2205.0;   // 50 ms
constexpr double kBassDecay = 66150.0;   // 1.5 s
constexpr double kSecondHarmonic = 0.25, kThirdHarmonic = 0.1;
constexpr double kPanNear = 1.0, kPanFar = 0.6;
constexpr uint32_t kFadeSamples = 44100;
constexpr double kSampleMax = 32767.0;

uint32_t Hash(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t h = a * 0x9E3779B1u ^ b * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

double Hz(double base, int semitones) {
    return base * std::pow(2.0, semitones / kSemitonesPerOctave);
}

double Voice(double hz, uint32_t t) {
    double ph = kTwoPi * hz * t / kRate;
    return std::sin(ph) + kSecondHarmonic * std::sin(2 * ph) + kThirdHarmonic * std::sin(3 * ph);
}

// Rises over `attack`, decays, and falls to silence over the last `attack`
// samples of `length`, so that notes meet without a click.
double Envelope(uint32_t t, uint32_t length, double attack, double decay) {
    double rise = t < attack ? t / attack : 1.0;
    double left = double(length - t);
    double fall = left < attack ? left / attack : 1.0;
    return rise * fall * std::exp(-(t / decay));
}

int16_t Clip(double v) {
    if (v > kSampleMax) v = kSampleMax;
    if (v < -kSampleMax) v = -kSampleMax;
    return int16_t(std::lround(v));
}

} // namespace

uint32_t ToneSample(int track, uint32_t sample, uint32_t trackSamples) {
    int key = (track * kKeyStep) % int(kSemitonesPerOctave) - kKeyCentre;
    uint32_t note = sample / kNoteSamples, inNote = sample % kNoteSamples;
    uint32_t phrase = note / kPhraseNotes, inPhrase = note % kPhraseNotes;

    int degree = kStartDegree;
    for (uint32_t i = 0; i <= inPhrase; i++) {
        degree +=
            int(Hash(uint32_t(track), phrase % kPhrasesInTheme, i) % kStepChoices) - kStepBias;
        if (degree < 0) degree = 0;
        if (degree >= kScaleSteps) degree = kScaleSteps - 1;
    }
    double melody = kMelodyAmp * Envelope(inNote, kNoteSamples, kAttack, kMelodyDecay) *
                    Voice(Hz(kMelodyHz, key + kScale[degree]), inNote);
    uint32_t inBass = sample % kPhraseSamples;
    double bass = kBassAmp * Envelope(inBass, kPhraseSamples, kBassAttack, kBassDecay) *
                  Voice(Hz(kBassHz, key + (phrase % 2 ? kFifth : 0)), inBass);

    double fade = 1.0;
    if (sample < kFadeSamples) fade = double(sample) / kFadeSamples;
    if (trackSamples - sample < kFadeSamples && sample < trackSamples)
        fade *= double(trackSamples - sample) / kFadeSamples;

    bool leftNear = inPhrase % 2 == 0;
    double left = fade * (melody * (leftNear ? kPanNear : kPanFar) + bass);
    double right = fade * (melody * (leftNear ? kPanFar : kPanNear) + bass);
    return uint32_t(uint16_t(Clip(left))) | uint32_t(uint16_t(Clip(right))) << 16;
}

} // namespace td_disc
