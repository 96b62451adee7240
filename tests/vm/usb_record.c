/* usb_record.so: preloaded into a process that talks to a USB device through libusb
 * (LD_PRELOAD), it hands every libusb_bulk_transfer on unchanged and records it for usb_replay
 * (usb_transfers.h). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <libusb-1.0/libusb.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/vm/usb_transfers.h"

typedef int (*bulk_transfer_function)(libusb_device_handle*, unsigned char, unsigned char*, int, int*, unsigned int);

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static FILE* recording;
static bulk_transfer_function real_bulk_transfer;

__attribute__((constructor)) static void start(void) {
    void* f = dlsym(RTLD_NEXT, "libusb_bulk_transfer");
    if (!f) {
        fprintf(stderr, "usb_record: no libusb_bulk_transfer after this library\n");
        abort();
    }
    memcpy(&real_bulk_transfer, &f, sizeof f);
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

int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data, int length,
                         int* transferred, unsigned int timeout) {
    const int result = real_bulk_transfer(handle, endpoint, data, length, transferred, timeout);
    pthread_mutex_lock(&lock);
    if (recording) {
        put(&endpoint, 1);
        put32((uint32_t)length);
        put32(timeout);
        if (!(endpoint & LIBUSB_ENDPOINT_IN) && length > 0) put(data, (size_t)length);
        put32((uint32_t)result);
        put32((uint32_t)(transferred ? *transferred : 0));
    }
    pthread_mutex_unlock(&lock);
    return result;
}
