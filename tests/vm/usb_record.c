/* usb_record.so: preloaded into a process that talks to a USB device through libusb
 * (LD_PRELOAD), it hands every bulk transfer it submits on unchanged and records it when it
 * completes, in the order they complete, for usb_replay (usb_transfers.h). A transfer that was
 * cancelled before anything arrived (the product's probe for stray packets, ended before a
 * command) moved nothing and is left out: raw libusb would not have made it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <libusb-1.0/libusb.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/vm/usb_transfers.h"

typedef int (*submit_function)(struct libusb_transfer*);

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static FILE* recording;
static submit_function real_submit;

/* The callbacks of the transfers in flight, which ours stands in for. */
enum { in_flight_max = 64 };
static struct {
    struct libusb_transfer* transfer;
    libusb_transfer_cb_fn callback;
} in_flight[in_flight_max];

__attribute__((constructor)) static void start(void) {
    void* f = dlsym(RTLD_NEXT, "libusb_submit_transfer");
    if (!f) {
        fprintf(stderr, "usb_record: no libusb_submit_transfer after this library\n");
        abort();
    }
    memcpy(&real_submit, &f, sizeof f);
    const char* path = getenv(USB_RECORD_VARIABLE);
    if (!path || !*path) return;
    recording = fopen(path, "wb");
    if (!recording) {
        perror(path);
        abort();
    }
    fputs(USB_RECORDING_MAGIC, recording);
}

__attribute__((destructor)) static void finish(void) {
    if (recording && fclose(recording) != 0) perror("usb_record");
    recording = NULL;
}

static void put(const void* bytes, size_t size) {
    if (size && fwrite(bytes, 1, size, recording) != size) {
        perror("usb_record");
        abort();
    }
}
static void put32(uint32_t v) {
    const uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    put(b, 4);
}

/* What libusb_bulk_transfer returns for a transfer that ended so. */
static int result_of(enum libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED: return 0;
        case LIBUSB_TRANSFER_TIMED_OUT: return LIBUSB_ERROR_TIMEOUT;
        case LIBUSB_TRANSFER_STALL: return LIBUSB_ERROR_PIPE;
        case LIBUSB_TRANSFER_OVERFLOW: return LIBUSB_ERROR_OVERFLOW;
        case LIBUSB_TRANSFER_NO_DEVICE: return LIBUSB_ERROR_NO_DEVICE;
        default: return LIBUSB_ERROR_IO;
    }
}

static void LIBUSB_CALL completed(struct libusb_transfer* t) {
    libusb_transfer_cb_fn callback = NULL;
    pthread_mutex_lock(&lock);
    for (int i = 0; i < in_flight_max; ++i)
        if (in_flight[i].transfer == t) {
            callback = in_flight[i].callback;
            in_flight[i].transfer = NULL;
            break;
        }
    const int cancelled_empty = t->status == LIBUSB_TRANSFER_CANCELLED && t->actual_length == 0;
    if (recording && t->type == LIBUSB_TRANSFER_TYPE_BULK && !cancelled_empty) {
        put(&t->endpoint, 1);
        put32((uint32_t)t->length);
        put32(t->timeout);
        if (!(t->endpoint & LIBUSB_ENDPOINT_IN) && t->length > 0) put(t->buffer, (size_t)t->length);
        put32((uint32_t)(t->status == LIBUSB_TRANSFER_CANCELLED ? 0 : result_of(t->status)));
        put32((uint32_t)t->actual_length);
    }
    pthread_mutex_unlock(&lock);
    t->callback = callback;
    if (callback) callback(t);
}

int libusb_submit_transfer(struct libusb_transfer* t) {
    pthread_mutex_lock(&lock);
    int slot = -1;
    for (int i = 0; i < in_flight_max && slot < 0; ++i)
        if (in_flight[i].transfer == NULL) slot = i;
    if (slot < 0) {
        fprintf(stderr, "usb_record: more than %d transfers in flight\n", in_flight_max);
        abort();
    }
    in_flight[slot].transfer = t;
    in_flight[slot].callback = t->callback;
    t->callback = completed;
    pthread_mutex_unlock(&lock);
    const int rc = real_submit(t);
    if (rc != 0) {
        pthread_mutex_lock(&lock);
        in_flight[slot].transfer = NULL;
        t->callback = in_flight[slot].callback;
        pthread_mutex_unlock(&lock);
    }
    return rc;
}
