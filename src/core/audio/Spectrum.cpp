#include "audio/Spectrum.h"

#include <algorithm>
#include <cmath>
#include <fftw3.h>
#include <mutex>
#include <numbers>

namespace {

// FFTW's planner keeps process-wide state: making and destroying plans must not overlap, while
// executing a finished plan is safe on any thread.
std::mutex& plannerLock()
{
    static std::mutex lock;
    return lock;
}

int binOf(double hz, int n, int half, double sampleRate)
{
    return std::clamp(int(std::lround(hz * n / sampleRate)), 0, half);
}

float sumRange(const float* v, int from, int to)
{
    float s = 0;
    for (int i = from; i < to; ++i)
        s += v[i];
    return s;
}

} // namespace

struct Spectrum::Fft {
    float* work = nullptr;         // n: the windowed frame, zero-padded
    fftwf_complex* bins = nullptr; // n / 2 + 1: the spectrum, then the power spectrum
    float* acf = nullptr;          // n: autocorrelation by lag
    fftwf_plan forward = nullptr;  // work -> bins
    fftwf_plan inverse = nullptr;  // bins -> acf

    ~Fft()
    {
        const std::lock_guard locked(plannerLock());
        if (forward)
            fftwf_destroy_plan(forward);
        if (inverse)
            fftwf_destroy_plan(inverse);
        fftwf_free(work);
        fftwf_free(bins);
        fftwf_free(acf);
    }
};

std::unique_ptr<Spectrum> Spectrum::make(int frame, int n, double sampleRate)
{
    if (frame < 64 || n < frame || (n & (n - 1)) != 0 || !(sampleRate > 0))
        return nullptr;
    auto fft = std::make_unique<Fft>();
    {
        const std::lock_guard locked(plannerLock());
        fft->work = fftwf_alloc_real(size_t(n));
        fft->bins = fftwf_alloc_complex(size_t(n / 2 + 1));
        fft->acf = fftwf_alloc_real(size_t(n));
        if (!fft->work || !fft->bins || !fft->acf)
            return nullptr;
        // Estimated plans: planning by measurement would pick different algorithms from run to
        // run, and the verdict must not depend on that.
        fft->forward = fftwf_plan_dft_r2c_1d(n, fft->work, fft->bins, FFTW_ESTIMATE);
        fft->inverse = fftwf_plan_dft_c2r_1d(n, fft->bins, fft->acf, FFTW_ESTIMATE);
        if (!fft->forward || !fft->inverse)
            return nullptr;
    }
    return std::unique_ptr<Spectrum>(new Spectrum(frame, n, sampleRate, std::move(fft)));
}

Spectrum::Spectrum(int frame, int n, double sampleRate, std::unique_ptr<Fft> fft)
    : m_frame(frame), m_n(n), m_half(n / 2), m_fft(std::move(fft)),
      m_window(new float[size_t(frame)]), m_mags(new float[size_t(n / 2)]),
      m_lagNorm(new float[size_t(n)])
{
    // Hann window, periodic form.
    for (int i = 0; i < frame; ++i)
        m_window[i] = float(0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * i / frame)));
    std::fill_n(m_fft->work, n, 0.0f);
    // The autocorrelation of a frame shrinks with the lag only because fewer samples overlap.
    for (int lag = 0; lag < n; ++lag)
        m_lagNorm[lag] = lag < frame ? float(frame) / float(frame - lag) : float(frame);

    m_bLow = binOf(300, n, m_half, sampleRate);
    m_b1k = binOf(1000, n, m_half, sampleRate);
    m_b3k = binOf(3000, n, m_half, sampleRate);
    m_b34k = binOf(3400, n, m_half, sampleRate);
    m_b8k = binOf(8000, n, m_half, sampleRate);
    m_lagMin = std::max(int(sampleRate / 350), 2);
    m_lagMax = std::min(frame * 5 / 8, int(sampleRate / 70));
}

Spectrum::~Spectrum() = default;

Spectrum::Measures Spectrum::measure(const float* samples)
{
    float* work = m_fft->work;
    fftwf_complex* bins = m_fft->bins;
    const float* acf = m_fft->acf;
    float* mags = m_mags.get();

    float mean = 0;
    for (int i = 0; i < m_frame; ++i)
        mean += samples[i];
    mean /= float(m_frame);
    for (int i = 0; i < m_frame; ++i)
        work[i] = (samples[i] - mean) * m_window[i];

    fftwf_execute(m_fft->forward);
    // The Nyquist bin is left out; the power spectrum covers bins 0 ... half - 1.
    for (int k = 0; k < m_half; ++k)
        mags[k] = bins[k][0] * bins[k][0] + bins[k][1] * bins[k][1];

    const float low = sumRange(mags, 0, m_bLow);
    const float speech = sumRange(mags, m_bLow, m_b34k);
    const float core = sumRange(mags, m_b1k, m_b3k);
    const float high = sumRange(mags, m_b34k, m_b8k);

    // Autocorrelation: the inverse transform of the power spectrum.
    for (int k = 0; k < m_half; ++k) {
        bins[k][0] = mags[k];
        bins[k][1] = 0;
    }
    bins[m_half][0] = 0;
    bins[m_half][1] = 0;
    fftwf_execute(m_fft->inverse);

    Measures m;
    if (acf[0] > 0) {
        float best = 0;
        int bestLag = 0;
        for (int lag = m_lagMin; lag < m_lagMax; ++lag) {
            const float v = acf[lag] * m_lagNorm[lag];
            if (v > best) {
                best = v;
                bestLag = lag;
            }
        }
        if (bestLag > 0) {
            const float h = best / acf[0];
            m.harmonicity = std::isnan(h) ? 0.0f : std::clamp(h, 0.0f, 1.0f);
            m.pitchLag = bestLag;
        }
    }
    const float total = low + speech + high;
    if (total > 0) {
        m.low = low / total;
        m.speech = speech / total;
        m.core = core / total;
    }
    return m;
}
