/* The instruments module (korvo-sigrok.so): libsigrok behind plain C. It is loaded on first use
 * so that a run without instruments never loads libsigrok, and korvoctl keeps its own static C++
 * runtime while the module and libsigrokcxx use the shared one. So nothing but C types crosses:
 * no exception, no std type, and each side frees only what it allocated. Strings a function
 * returns belong to the module and stay valid as long as the object they came from (last_error:
 * until the calling thread's next call). */
#ifndef KORVO_INSTRUMENTS_SIGROK_MODULE_H
#define KORVO_INSTRUMENTS_SIGROK_MODULE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Raised whenever a function below changes; the loader refuses a module of another version. */
#define KORVO_SIGROK_ABI_VERSION 3
#define KORVO_SIGROK_MODULE_NAME "korvo-sigrok.so"

typedef struct korvo_sigrok_backend korvo_sigrok_backend;
typedef struct korvo_sigrok_device korvo_sigrok_device;
typedef struct korvo_sigrok_writer korvo_sigrok_writer;
typedef struct korvo_sigrok_session korvo_sigrok_session;

typedef struct {
  const char* driver;
  const char* const* option_keys; /* option_count of each */
  const char* const* option_values;
  size_t option_count;
  const char* const* channels; /* none: every analog channel */
  size_t channel_count;
} korvo_sigrok_config;

typedef struct {
  const char* name;
  const char* group;
  int enabled;
} korvo_sigrok_channel;

typedef struct {
  const char *driver, *vendor, *model, *version, *serial, *connection;
  const korvo_sigrok_channel* channels;
  size_t channel_count;
} korvo_sigrok_device_info;

typedef void (*korvo_sigrok_value_fn)(void* context, const char* channel, const char* quantity,
                                      const char* unit, double value);
typedef void (*korvo_sigrok_log_fn)(void* context, const char* line);

int korvo_sigrok_abi_version(void);
/* The reason the calling thread's last failed call failed. */
const char* korvo_sigrok_last_error(void);
/* libsigrok's log lines at or below level (0 none .. 5 spew) go to on_line, from any thread;
 * process-wide; on_line NULL drops them. */
void korvo_sigrok_route_log(int level, korvo_sigrok_log_fn on_line, void* context);

/* NULL on failure. */
korvo_sigrok_backend* korvo_sigrok_create(void);
void korvo_sigrok_destroy(korvo_sigrok_backend* backend);
/* 1 when libsigrok knows the driver and every option; else 0. */
int korvo_sigrok_check(korvo_sigrok_backend* backend, const korvo_sigrok_config* config);
/* NULL on failure. A device may outlive its backend. */
korvo_sigrok_device* korvo_sigrok_open(korvo_sigrok_backend* backend,
                                       const korvo_sigrok_config* config);
const korvo_sigrok_device_info* korvo_sigrok_info(const korvo_sigrok_device* device);
/* One reading of the enabled channels, each value to on_value as it arrives; 1 when any came. */
int korvo_sigrok_read(korvo_sigrok_device* device, korvo_sigrok_value_fn on_value, void* context);
/* From another thread while a read runs. */
void korvo_sigrok_interrupt(korvo_sigrok_device* device);
void korvo_sigrok_close(korvo_sigrok_device* device);

/* A sigrok session file (.sr) written by libsigrok's srzip output: logic_count logic channels,
 * then analog_count analog channels, named in that order, at samplerate Hz. The file is made at
 * once, so a recording without samples is still one sigrok opens. NULL on failure. */
korvo_sigrok_writer* korvo_sigrok_writer_open(const char* path, unsigned long long samplerate,
                                              const char* const* logic_names, size_t logic_count,
                                              const char* const* analog_names,
                                              size_t analog_count);
/* count samples. logic: count units of (logic_count + 7) / 8 bytes, channel i in bit i % 8 of
 * byte i / 8; analog: count values of each analog channel in turn. 1 when written. */
int korvo_sigrok_writer_append(korvo_sigrok_writer* writer, size_t count,
                               const unsigned char* logic, const float* analog);
/* Ends the recording and frees writer; 1 when the end was written. */
int korvo_sigrok_writer_close(korvo_sigrok_writer* writer);

/* A sigrok session file read whole, in the writer's layout: its logic channels (by their index
 * in the file), then its analog channels, named in that order. */
typedef struct {
  unsigned long long samplerate; /* Hz; 0 when the file names none */
  const char* const* logic_names;
  size_t logic_count;
  const char* const* analog_names;
  size_t analog_count;
  size_t logic_samples; /* units of (logic_count + 7) / 8 bytes, channel i in bit i % 8 of byte
                           i / 8 */
  const unsigned char* logic;
  size_t analog_samples; /* of each analog channel; a channel with fewer is NaN to the end */
  const float* analog;   /* analog_samples values of each analog channel in turn */
} korvo_sigrok_session_data;

/* Reads the .sr at path through libsigrok. NULL on failure. */
korvo_sigrok_session* korvo_sigrok_session_read(const char* path);
const korvo_sigrok_session_data* korvo_sigrok_session_contents(const korvo_sigrok_session* s);
void korvo_sigrok_session_free(korvo_sigrok_session* session);

#ifdef __cplusplus
}
#endif

#endif
