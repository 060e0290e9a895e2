#pragma once

#include <cstdint>
#include <memory>

// One frame analyser for speech screening: the spectral balance of a frame and the strength and
// period of its pitch (autocorrelation through the power spectrum). Made once per file and
// reused for every frame, because FFT plans and their buffers are costly to make; one analyser
// belongs to one thread.
class Spectrum {
public:
    struct Measures {
        float low = 0;         // share of energy below 300 Hz
        float speech = 0;      // share in 300 Hz ... 3.4 kHz
        float core = 0;        // share in 1 ... 3 kHz
        float harmonicity = 0; // strongest normalised autocorrelation in the pitch range, 0...1
        int32_t pitchLag = 0;  // its lag in samples, 0 when there is none
    };

    // Nothing unless frame >= 64, n >= frame, n is a power of two and the FFT can be planned.
    static std::unique_ptr<Spectrum> make(int frame, int n, double sampleRate);
    ~Spectrum();
    Spectrum(const Spectrum&) = delete;
    Spectrum& operator=(const Spectrum&) = delete;

    // Measures one frame of `frame` samples.
    Measures measure(const float* samples);

    int frame() const { return m_frame; }
    int n() const { return m_n; }
    // Band edges as bin indices (300 Hz, 1 kHz, 3 kHz, 3.4 kHz, 8 kHz) and the lag range searched
    // for a pitch (70 ... 350 Hz), lagMax excluded.
    int bLow() const { return m_bLow; }
    int b1k() const { return m_b1k; }
    int b3k() const { return m_b3k; }
    int b34k() const { return m_b34k; }
    int b8k() const { return m_b8k; }
    int lagMin() const { return m_lagMin; }
    int lagMax() const { return m_lagMax; }

private:
    struct Fft;
    Spectrum(int frame, int n, double sampleRate, std::unique_ptr<Fft> fft);

    int m_frame;
    int m_n;
    int m_half;
    std::unique_ptr<Fft> m_fft; // plans and their buffers
    std::unique_ptr<float[]> m_window;
    std::unique_ptr<float[]> m_mags;
    std::unique_ptr<float[]> m_lagNorm;
    int m_bLow, m_b1k, m_b3k, m_b34k, m_b8k;
    int m_lagMin, m_lagMax;
};
