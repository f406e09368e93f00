/* libkvox: Kestrovan VOX telephony voice files (G.711 A-law and mu-law at 64 and 48 kbit/s, 4-bit ADPCM
 * with DC tracking at 32 and 24 kbit/s; 8000 or 6000 Hz; with or without the four-byte coding tag) for
 * programs in C and every language that calls C.
 *
 * The bytes are those of the editor's file-format plug-in: files are read and written by the plug-in's own
 * code, and the stream codecs run its conversions on memory. A raw file (one without a tag) is read with
 * the coding its caller names, or else by what its content says at a confidence of 0.9 or more.
 *
 * Errors are negative int codes (KVOX_E...), described by kvox_strerror(). There is no global state: every
 * handle is independent, and different handles may be used on different threads at once; one handle must
 * not be used by two threads at the same time. See kvox(3).
 */
#ifndef KVOX_H
#define KVOX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) && !defined(KVOX_NO_VISIBILITY)
#define KVOX_API __attribute__((visibility("default")))
#else
#define KVOX_API
#endif

/* ---- Codings ---------------------------------------------------------------------------------------- */

/* The six codings; 0 is "none" (a raw file's coding not named, or a detection that settled nothing). */
typedef enum kvox_coding {
  KVOX_CODING_NONE = 0,
  KVOX_ALAW = 1,    /* "064A", alias "alaw": A-law, 8000 Hz, 64 kbit/s */
  KVOX_ALAW48 = 2,  /* "048A", alias "alaw48": A-law, 6000 Hz, 48 kbit/s */
  KVOX_ULAW = 3,    /* "064U", alias "ulaw": mu-law, 8000 Hz, 64 kbit/s */
  KVOX_ULAW48 = 4,  /* "048U", alias "ulaw48": mu-law, 6000 Hz, 48 kbit/s */
  KVOX_ADPCM = 5,   /* "032D", alias "adpcm": 4-bit ADPCM, 8000 Hz, 32 kbit/s */
  KVOX_ADPCM24 = 6  /* "024D", alias "adpcm24": 4-bit ADPCM, 6000 Hz, 24 kbit/s */
} kvox_coding;

#define KVOX_CODING_COUNT 6

/* The coding a tag ("064A") or alias ("alaw") names, compared without regard to case. Returns 0, or
 * KVOX_EINVAL for a null pointer and KVOX_ECODING for any other text (*out is then KVOX_CODING_NONE). */
KVOX_API int kvox_coding_from_name(const char* name, kvox_coding* out);

/* Static texts, or NULL for a value that is not one of the six; the display name of 0 is the plug-in's
 * name for a raw file whose coding is not set, "Kestrovan Unknown Format". */
KVOX_API const char* kvox_coding_tag(kvox_coding coding);          /* "064A" */
KVOX_API const char* kvox_coding_alias(kvox_coding coding);        /* "alaw" */
KVOX_API const char* kvox_coding_display_name(kvox_coding coding); /* "Kestrovan 64KB A-Law" */

/* 8000 or 6000; 0 for a value that is not one of the six. */
KVOX_API int kvox_coding_rate(kvox_coding coding);
/* Bits a sample takes in the file: 8 for G.711, 4 for ADPCM; 0 for a value that is not one of the six. */
KVOX_API int kvox_coding_bits(kvox_coding coding);

/* The coding of the same kind (A-law, mu-law or ADPCM) at `rate` (8000 or 6000 Hz): KVOX_ULAW at 6000 is
 * KVOX_ULAW48; 0 for a value that is not one of the six or a rate that is neither. */
KVOX_API kvox_coding kvox_coding_at_rate(kvox_coding coding, int rate);

/* The version of the library, such as "1.1.0". */
KVOX_API const char* kvox_version(void);

/* ---- Errors ----------------------------------------------------------------------------------------- */

#define KVOX_OK 0
#define KVOX_EINVAL (-1)      /* a null pointer, a flag not known, or a handle used for what it is not for */
#define KVOX_ECODING (-2)     /* a coding that is not one of the six, or a name that names none */
#define KVOX_ENOMEM (-3)      /* out of memory */
#define KVOX_ENOENT (-4)      /* no such file, or no such folder on the way to it */
#define KVOX_EISDIR (-5)      /* a folder, not a file */
#define KVOX_EACCES (-6)      /* permission denied */
#define KVOX_ENOTREG (-7)     /* not a regular file (a pipe or a device) */
#define KVOX_EEMPTY (-8)      /* the file is empty: it holds no audio */
#define KVOX_ETRUNCATED (-9)  /* the file ends inside its four-byte coding tag */
#define KVOX_EUNDECIDED (-10) /* a raw file whose content does not settle its coding; name it */
#define KVOX_EIO (-11)        /* reading or writing failed */
#define KVOX_ENOSPC (-12)     /* no space left on the device: the file was not written whole */
#define KVOX_ETOOLONG (-13)   /* a VOX file of 4 GiB or more, which the plug-in cannot measure */
#define KVOX_ESYSTEM (-14)    /* another failure of the operating system */

/* A short text for any code, such as "No space left on device" (the C library's words where it has
 * them); never NULL. */
KVOX_API const char* kvox_strerror(int error);

/* ---- Stream codecs on memory ------------------------------------------------------------------------ */

typedef struct kvox_decoder kvox_decoder;
typedef struct kvox_encoder kvox_encoder;

/* NULL for a coding that is not one of the six (or when memory runs out). */
KVOX_API kvox_decoder* kvox_decoder_new(kvox_coding coding);
/* Decodes in_bytes code bytes into `out`, which has room for 2 * in_bytes samples (ADPCM gives two per
 * byte, high nibble first; G.711 one). Returns the samples written; 0 for a null pointer. The ADPCM
 * predictor, step and DC tracker carry over from call to call, so a stream may be split anywhere. */
KVOX_API size_t kvox_decode(kvox_decoder* decoder, const uint8_t* in, size_t in_bytes, int16_t* out);
/* Starts a new stream: the state of a fresh decoder. */
KVOX_API void kvox_decoder_reset(kvox_decoder* decoder);
KVOX_API void kvox_decoder_free(kvox_decoder* decoder);

KVOX_API kvox_encoder* kvox_encoder_new(kvox_coding coding);
/* Encodes `samples` samples into `out` and returns the bytes written; 0 for a null pointer. G.711 gives
 * one byte a sample. ADPCM gives one byte per two samples and keeps an odd last sample until the next
 * call pairs it, so `out` needs room for (samples + 1) / 2 bytes. The state carries over from call to
 * call: any split of a stream gives the same bytes as one call. */
KVOX_API size_t kvox_encode(kvox_encoder* encoder, const int16_t* in, size_t samples, uint8_t* out);
/* Ends the stream: an ADPCM sample still kept is written as the plug-in ends a file on an odd sample (its
 * code in the high nibble, the low nibble coded from the same sample once more). Returns the bytes
 * written to `out` (0 or 1); the encoder then starts a new stream. kvox_encode followed by kvox_encoder_flush
 * gives exactly the bytes after the tag of a VOX file the plug-in writes from the same samples. With `out`
 * NULL it only starts a new stream, dropping a sample still held, and returns 0. */
KVOX_API size_t kvox_encoder_flush(kvox_encoder* encoder, uint8_t* out);
KVOX_API void kvox_encoder_free(kvox_encoder* encoder);

/* ---- What a raw file's content says ----------------------------------------------------------------- */

typedef struct kvox_detection {
  /* The coding claimed at a confidence of 0.5 or more, named by its 8000 Hz member (KVOX_ALAW, KVOX_ULAW
   * or KVOX_ADPCM; `rate` tells the rate when tones decide it); 0 when unknown. */
  kvox_coding coding;
  double confidence;      /* 0..1, cut down to 6 decimals; 0 when nothing is claimed */
  int rate;               /* 8000 or 6000 when telephone tones decide it; 0 when unknown */
  double rate_confidence; /* 0.90, 0.97 or 0.99 when decided, 0.6 for a hint, else 0.5 */
  int rate_hint;          /* the rate a single tone event points to (never acted on); 0 when none */
  double t;               /* how consistently the winner beats the runner-up, block by block */
  /* What kvox_open reads the file as when no coding is named: the claimed coding at a confidence of 0.9 or
   * more, at the rate the tones decide at 0.9 or more, else at 8000 Hz; 0 when the coding is not settled. */
  kvox_coding read_as;
  char best[16];    /* the cheapest native reading ("alaw", "mulaw", "adpcm"), even when refused; "" if none */
  char reason[256]; /* why the coding is unknown, in words ("looks like 16-bit PCM, not this format"); "" */
} kvox_detection;

/* What `bytes` bytes of a raw file say of their coding and rate: the answer `kvox info --json` gives for a
 * file of those bytes. A long buffer is sampled (8 chunks of 10,000 bytes). Returns 0, or KVOX_EINVAL. */
KVOX_API int kvox_detect(const uint8_t* data, size_t bytes, kvox_detection* out);
/* The same for a file, reading only the bytes the detector looks at; the file is taken as raw, whatever
 * its first bytes. */
KVOX_API int kvox_detect_file(const char* path, kvox_detection* out);
/* "coding mu-law, confidence 0.99; rate unknown from content", as kvox info prints it. Writes at most
 * `size` bytes with the terminator, like snprintf, and returns the length of the whole text (or
 * KVOX_EINVAL). */
KVOX_API int kvox_detection_summary(const kvox_detection* detection, char* text, size_t size);

/* ---- Files ------------------------------------------------------------------------------------------ */

typedef struct kvox_file kvox_file;

/* How a file's coding or rate was decided. */
typedef enum kvox_source {
  KVOX_FROM_NONE = 0,
  KVOX_FROM_TAG = 1,     /* the file's tag */
  KVOX_FROM_NAMED = 2,   /* the coding the caller named */
  KVOX_FROM_CONTENT = 3, /* the content: the coding at 0.9 or more, or the rate from tones */
  KVOX_FROM_ASSUMED = 4  /* the rate only: 8000 Hz, since the content does not tell it */
} kvox_source;

typedef struct kvox_info {
  int tagged;              /* 1 when the file starts with its coding tag */
  kvox_coding coding;      /* the coding reads decode; 0 when not settled (kvox_open failed) */
  int rate;                /* 8000 or 6000; 0 when not settled */
  int64_t frames;          /* the samples the file decodes to, exact at any length */
  int64_t file_bytes;      /* the file's length, its tag included */
  kvox_source coding_from; /* KVOX_FROM_TAG, KVOX_FROM_NAMED or KVOX_FROM_CONTENT */
  kvox_source rate_from;   /* the same, or KVOX_FROM_ASSUMED */
  int detected;            /* 1 when `detection` holds what the content says (a raw file, no coding named) */
  kvox_detection detection;
} kvox_info;

/* Opens a VOX file for reading. A tagged file is read by its tag (a named `coding` does not change it);
 * a raw file with `coding` when it is not 0, and otherwise by its content when that settles the coding
 * at a confidence of 0.9 or more (at the rate tones decide, else 8000 Hz). Returns NULL with *err set
 * when it cannot: KVOX_EUNDECIDED for a raw file whose content does not settle it, with `info` (when not
 * NULL) holding the detection all the same. `info` and `err` may be NULL. */
KVOX_API kvox_file* kvox_open(const char* path, kvox_coding coding, kvox_info* info, int* err);
/* Reads up to `frames` samples (mono, 16-bit, native byte order). Returns the samples read, fewer than
 * asked only at the end of the file, 0 at the end, or a negative error. */
KVOX_API int64_t kvox_read(kvox_file* file, int16_t* out, size_t frames);

/* Files written without the four-byte coding tag (raw). */
#define KVOX_NO_TAG 0x1u

/* Creates a VOX file of `coding` (one of the six) for writing at the coding's rate. The file is written
 * under a temporary name in the same folder and takes its name only when kvox_close succeeds; an existing
 * file of that name stays as it was until then. A device or pipe (such as /dev/null) is written directly.
 * `err` may be NULL. */
KVOX_API kvox_file* kvox_create(const char* path, kvox_coding coding, unsigned flags, int* err);
/* Codes and writes `frames` samples (which are not changed). Returns `frames`, or a negative error:
 * KVOX_ENOSPC or KVOX_EIO when coded bytes did not reach the file, KVOX_ETOOLONG before the file would
 * reach 4 GiB. After an error the file can only be closed, which then fails too. */
KVOX_API int64_t kvox_write(kvox_file* file, const int16_t* pcm, size_t frames);
/* The samples read so far from a file being read, or stored in a file being written (written to the file,
 * not only handed over); KVOX_EINVAL for NULL. */
KVOX_API int64_t kvox_tell(const kvox_file* file);

/* Closes a file and frees the handle, in every case. For a file being written: writes what is still held,
 * and gives the file its name; returns 0, or the first error of any write that did not reach the file, in
 * which case the temporary file is removed and an earlier file of that name keeps its content (a full disk
 * is an error, never a short file). For a file being read: 0. NULL gives KVOX_EINVAL. */
KVOX_API int kvox_close(kvox_file* file);
/* Closes a file being written without keeping it: nothing is left under its name. For a file being read,
 * the same as kvox_close. */
KVOX_API void kvox_discard(kvox_file* file);

/* 1 when the plug-in takes the file as a VOX file (by its tag, or by a name ending in .vox in any case),
 * 0 when it does not; never an error, so a missing file named x.vox gives 1. */
KVOX_API int kvox_is_vox(const char* path);

/* The bytes of a VOX file of `coding` that holds `frames` samples, its tag included unless `flags` has
 * KVOX_NO_TAG; -1 for a coding that is not one of the six. */
KVOX_API int64_t kvox_file_bytes(kvox_coding coding, unsigned flags, int64_t frames);
/* The longest VOX file the plug-in can measure: files are kept below 4 GiB. */
#define KVOX_LARGEST_FILE_BYTES INT64_C(0xFFFFFFFE)

/* ---- Outputs that appear only when complete --------------------------------------------------------- */

/* What kvox_create does for its own files, for other files a program writes beside them: `final_path` is
 * written under a temporary name (kvox_pending_path) and renamed by kvox_pending_commit. */
typedef struct kvox_pending kvox_pending;
KVOX_API kvox_pending* kvox_pending_new(const char* final_path, int* err);
KVOX_API const char* kvox_pending_path(const kvox_pending* pending);
/* Renames the finished file (keeping the mode a replaced file had) and frees the handle; 0 or an error,
 * after which the temporary file is removed. */
KVOX_API int kvox_pending_commit(kvox_pending* pending);
/* Removes the temporary file and frees the handle. */
KVOX_API void kvox_pending_discard(kvox_pending* pending);
/* Removes every temporary file not yet committed or discarded, in this process. Safe to call from a signal
 * handler (it only calls unlink), so that a program ended by SIGINT or SIGTERM leaves none behind. */
KVOX_API void kvox_remove_pending_files(void);

/* ---- Preparing other audio for coding --------------------------------------------------------------- */

/* Rate conversion of one mono stream, as kvox encode converts (libsoxr at high quality); not in the
 * WebAssembly build. */
typedef struct kvox_resampler kvox_resampler;
KVOX_API kvox_resampler* kvox_resampler_new(double input_rate, double output_rate, int* err);
/* The most samples the next kvox_resample of `count` samples, or a flush, can give. */
KVOX_API size_t kvox_resample_room(const kvox_resampler* resampler, size_t count);
/* Converts `count` samples and writes what is ready to `out` (room: kvox_resample_room(count)). Returns
 * the samples written, or 0 for a null pointer. At the end of the stream, kvox_resample_flush writes what
 * the filter still holds (room: kvox_resample_room(0)); call it until it returns 0. */
KVOX_API size_t kvox_resample(kvox_resampler* resampler, const float* in, size_t count, float* out);
KVOX_API size_t kvox_resample_flush(kvox_resampler* resampler, float* out);
KVOX_API void kvox_resampler_free(kvox_resampler* resampler);

/* -1..1 to 16 bits: scaled by 32768, rounded to the nearest, clipped; NaN becomes 0. */
KVOX_API void kvox_float_to_pcm16(const float* in, size_t count, int16_t* out);
/* Averages interleaved frames of `channels` channels into mono, in place; returns `frames`. */
KVOX_API size_t kvox_mix_to_mono(float* samples, size_t frames, int channels);

#ifdef __cplusplus
}
#endif

#endif /* KVOX_H */
