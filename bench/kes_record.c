/* kes_record.so: preloaded into a process that uses Trelink (LD_PRELOAD), it stands in front of
 * the six exports, hands every call on to the library unchanged, and records the calls
 * (KES_RECORD) or the time of the first and last exchange (KES_TIMES); see kes_recording.h. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include "bench/kes_recording.h"
#include "transfer/trelink.h"

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static FILE* recording;
/* The library's own exports, found once as this library is loaded. */
static int (*real_enable)(int);
static int (*real_init)(unsigned, unsigned char*);
static int (*real_send)(unsigned, void*, uint16_t, void*, uint16_t, uint16_t*);
static int (*real_close)(unsigned);
static int (*real_connect)(void);
static int (*real_playback)(const void*, uint32_t);
static const char* times_path;
static uint64_t first_ns, last_ns, calls, first_cpu_us, last_cpu_us;

/* CPU time of the whole process so far, in microseconds. */
static uint64_t cpu_us(void) {
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (uint64_t)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000u + (uint64_t)(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

static uint64_t now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

/* Stores the address of the export `name` that follows this library into the function pointer
 * at `into` (copied, as C has no conversion from an object pointer to a function pointer). */
static void find(void* into, const char* name) {
    void* f = dlsym(RTLD_NEXT, name);
    if (!f) {
        fprintf(stderr, "kes_record: no %s after this library\n", name);
        abort();
    }
    memcpy(into, &f, sizeof f);
}

__attribute__((constructor)) static void start(void) {
    find(&real_enable, "EnableErrorMessages");
    find(&real_init, "KesInitializeInterfaces");
    find(&real_send, "KesSendCommand");
    find(&real_close, "KesCloseInterfaces");
    find(&real_connect, "KesConnectCommandResponseInterface");
    find(&real_playback, "KesAppendPlayback");
    const char* path = getenv(KES_RECORD_VARIABLE);
    if (path && *path) {
        recording = fopen(path, "wb");
        if (!recording) {
            perror(path);
            abort();
        }
        fputs(KES_RECORDING_MAGIC, recording);
    }
    times_path = getenv(KES_TIMES_VARIABLE);
}

__attribute__((destructor)) static void finish(void) {
    if (recording && fclose(recording) != 0) perror("kes_record");
    recording = NULL;
    if (times_path && *times_path) {
        FILE* f = fopen(times_path, "w");
        if (f) {
            fprintf(f, "%llu %llu %llu %llu %llu\n", (unsigned long long)first_ns, (unsigned long long)last_ns,
                    (unsigned long long)calls, (unsigned long long)first_cpu_us, (unsigned long long)last_cpu_us);
            fclose(f);
        }
    }
}

static void put(const void* bytes, size_t size) {
    if (size && fwrite(bytes, 1, size, recording) != size) {
        perror("kes_record");
        abort();
    }
}
static void put8(uint8_t v) { put(&v, 1); }
static void put16(uint16_t v) {
    const uint8_t b[2] = {(uint8_t)v, (uint8_t)(v >> 8)};
    put(b, 2);
}
static void put32(uint32_t v) {
    const uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    put(b, 4);
}

int EnableErrorMessages(int enable) {
    const int result = real_enable(enable);
    pthread_mutex_lock(&lock);
    if (recording) {
        put8(KES_ENABLE);
        put32((uint32_t)enable);
        put32((uint32_t)result);
    }
    pthread_mutex_unlock(&lock);
    return result;
}

int KesInitializeInterfaces(unsigned flags, unsigned char* data) {
    const int result = real_init(flags, data);
    pthread_mutex_lock(&lock);
    if (recording) {
        const size_t data_size = data && (flags & TRELINK_LINK_SIMULATOR) ? 2 + strlen((const char*)data + 1) : 0;
        const char* deadline = getenv("TRELINK_ANSWER_TIMEOUT_MS");
        const size_t deadline_size = deadline ? strlen(deadline) : 0;
        put8(KES_INIT);
        put32(flags);
        put32((uint32_t)data_size);
        put(data, data_size);
        put32((uint32_t)deadline_size);
        put(deadline, deadline_size);
        put32((uint32_t)result);
    }
    pthread_mutex_unlock(&lock);
    return result;
}

int KesSendCommand(unsigned command_code, void* command_data, uint16_t command_data_size, void* response_data,
                   uint16_t response_data_buffer_size, uint16_t* returned_size) {
    pthread_mutex_lock(&lock);
    const uint64_t started = now_ns();
    if (calls++ == 0) {
        first_ns = started;
        if (times_path) first_cpu_us = cpu_us();
    }
    if (recording) {
        put8(KES_SEND);
        put32(command_code);
        put8(command_data != NULL);
        put16(command_data_size);
        put8(response_data != NULL);
        put16(response_data_buffer_size);
        put8(returned_size != NULL);
        if (command_data) put(command_data, command_data_size);  /* in host order, as given */
    }
    pthread_mutex_unlock(&lock);
    const int result =
        real_send(command_code, command_data, command_data_size, response_data, response_data_buffer_size, returned_size);
    pthread_mutex_lock(&lock);
    if (recording) {
        put32((uint32_t)result);
        put16(returned_size ? *returned_size : 0);
    }
    last_ns = now_ns();
    if (times_path) last_cpu_us = cpu_us();
    pthread_mutex_unlock(&lock);
    return result;
}

int KesCloseInterfaces(unsigned flags) {
    const int result = real_close(flags);
    pthread_mutex_lock(&lock);
    if (recording) {
        put8(KES_CLOSE);
        put32(flags);
        put32((uint32_t)result);
    }
    pthread_mutex_unlock(&lock);
    return result;
}

int KesConnectCommandResponseInterface(void) {
    const int result = real_connect();
    pthread_mutex_lock(&lock);
    if (recording) {
        put8(KES_CONNECT);
        put32((uint32_t)result);
    }
    pthread_mutex_unlock(&lock);
    return result;
}

int KesAppendPlayback(const void* playback, uint32_t size) {
    const int result = real_playback(playback, size);
    pthread_mutex_lock(&lock);
    if (recording) {
        put8(KES_PLAYBACK);
        put32(size);
        put(playback, playback ? size : 0);
        put32((uint32_t)result);
    }
    pthread_mutex_unlock(&lock);
    return result;
}
