// Preparing other audio for coding as kvox encode prepares it: mixed down to mono, converted in rate with
// libsoxr at high quality, rounded and clipped to 16 bits.
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "libkvox/internal.h"

struct kvox_resampler {
  soxr_t soxr = nullptr;
  double ratio = 1;
};

extern "C" {

kvox_resampler* kvox_resampler_new(double input_rate, double output_rate, int* err) {
  if (!(input_rate > 0) || !(output_rate > 0) || !std::isfinite(input_rate) || !std::isfinite(output_rate)) {
    kvox_internal::SetError(err, KVOX_EINVAL);
    return nullptr;
  }
  auto* resampler = new (std::nothrow) kvox_resampler;
  if (resampler == nullptr) {
    kvox_internal::SetError(err, KVOX_ENOMEM);
    return nullptr;
  }
  soxr_error_t error = nullptr;
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  // One thread each: callers run files in parallel themselves.
  soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  resampler->soxr = soxr_create(input_rate, output_rate, 1, &error, nullptr, &quality, &runtime);
  if (resampler->soxr == nullptr || error != nullptr) {
    if (resampler->soxr != nullptr) soxr_delete(resampler->soxr);
    delete resampler;
    kvox_internal::SetError(err, KVOX_ENOMEM);
    return nullptr;
  }
  resampler->ratio = output_rate / input_rate;
  kvox_internal::SetError(err, KVOX_OK);
  return resampler;
}

size_t kvox_resample_room(const kvox_resampler* resampler, size_t count) {
  if (resampler == nullptr) return 0;
  return static_cast<size_t>(std::ceil(static_cast<double>(count) * resampler->ratio)) + 4096;
}

size_t kvox_resample(kvox_resampler* resampler, const float* in, size_t count, float* out) {
  if (resampler == nullptr || in == nullptr || out == nullptr) return 0;
  const size_t room = kvox_resample_room(resampler, count);
  size_t made = 0;
  while (count > 0) {
    size_t used = 0;
    size_t step = 0;
    if (soxr_process(resampler->soxr, in, count, &used, out + made, room - made, &step) != nullptr) return made;
    made += step;
    in += used;
    count -= used;
    if (used == 0 && step == 0) break;
  }
  return made;
}

size_t kvox_resample_flush(kvox_resampler* resampler, float* out) {
  if (resampler == nullptr || out == nullptr) return 0;
  size_t made = 0;
  if (soxr_process(resampler->soxr, nullptr, 0, nullptr, out, kvox_resample_room(resampler, 0), &made) != nullptr) {
    return 0;
  }
  return made;
}

void kvox_resampler_free(kvox_resampler* resampler) {
  if (resampler == nullptr) return;
  soxr_delete(resampler->soxr);
  delete resampler;
}

void kvox_float_to_pcm16(const float* in, size_t count, int16_t* out) {
  if (in == nullptr || out == nullptr) return;
  for (size_t i = 0; i < count; ++i) {
    // A float file may hold values past full scale, or even NaN, which becomes silence.
    const float scaled = std::isnan(in[i]) ? 0.0f : std::clamp(in[i] * 32768.0f, -32768.0f, 32767.0f);
    out[i] = static_cast<int16_t>(std::lrint(scaled));
  }
}

size_t kvox_mix_to_mono(float* samples, size_t frames, int channels) {
  if (samples == nullptr || channels < 1) return 0;
  if (channels == 1) return frames;
  const float scale = 1.0f / static_cast<float>(channels);
  for (size_t frame = 0; frame < frames; ++frame) {
    const float* first = samples + frame * static_cast<size_t>(channels);
    float sum = 0;
    for (int channel = 0; channel < channels; ++channel) sum += first[channel];
    samples[frame] = sum * scale;
  }
  return frames;
}

}  // extern "C"
