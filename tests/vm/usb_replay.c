/* The least a program could do to make the same USB transfers as flashdesk: raw libusb.
 *
 *   usb_replay RECORDING
 *       Opens the device TRELINK_USB_IDS names (its first interface with a bulk IN and a bulk
 *       OUT endpoint) and makes every bulk transfer of the recording (usb_transfers.h) again, in
 *       order: the same bytes out, the same lengths asked for in, the same time-outs. Exit
 *       status 0 when each ended as it did when recorded, 3 when one did not, 2 when the
 *       recording or the device cannot be used.
 *   usb_replay --pairs N RECORDING -- COMMAND [ARGS...]
 *       Runs COMMAND and `usb_replay RECORDING` as fresh processes, N pairs interleaved (the
 *       order alternating), and prints the ratio of their wall times: median, quartiles and
 *       spread. Exit status 0 when every run of both exited 0. */
#include <fcntl.h>
#include <libusb-1.0/libusb.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "tests/vm/usb_transfers.h"

static FILE* in;
static const char* path;
static int claimed_interface = -1;

static void unusable(const char* why) {
    fprintf(stderr, "usb_replay: %s: %s\n", path, why);
    exit(2);
}
static void get(void* into, size_t size) {
    if (size && fread(into, 1, size, in) != size) unusable("cut short");
}
static uint32_t get32(void) {
    uint8_t b[4];
    get(b, 4);
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

/* The device and the interface the product would choose, claimed. */
static libusb_device_handle* open_device(libusb_context** context) {
    const char* ids = getenv("TRELINK_USB_IDS");
    unsigned vendor = 0, product = 0;
    if (!ids || sscanf(ids, "%4x:%4x", &vendor, &product) != 2) unusable("TRELINK_USB_IDS names no device");
    if (libusb_init(context) != 0) unusable("libusb_init failed");
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(*context, (uint16_t)vendor, (uint16_t)product);
    if (!handle) unusable("the device cannot be opened");
    struct libusb_config_descriptor* config = NULL;
    if (libusb_get_active_config_descriptor(libusb_get_device(handle), &config) != 0) unusable("no configuration");
    int chosen = -1;
    for (int i = 0; i < config->bNumInterfaces && chosen < 0; ++i) {
        const struct libusb_interface_descriptor* s = &config->interface[i].altsetting[0];
        int ins = 0, outs = 0;
        for (int e = 0; e < s->bNumEndpoints; ++e) {
            if ((s->endpoint[e].bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK) continue;
            if (s->endpoint[e].bEndpointAddress & LIBUSB_ENDPOINT_IN) ++ins;
            else ++outs;
        }
        if (ins == 1 && outs == 1) chosen = s->bInterfaceNumber;
    }
    libusb_free_config_descriptor(config);
    if (chosen < 0) unusable("no interface with one bulk IN and one bulk OUT endpoint");
    libusb_set_auto_detach_kernel_driver(handle, 1);
    if (libusb_claim_interface(handle, chosen) != 0) unusable("the interface cannot be claimed");
    claimed_interface = chosen;
    return handle;
}

/* The recording opened at its first transfer. */
static void open_recording(void) {
    static char file_buffer[65536];
    in = fopen(path, "rb");
    if (!in) unusable("cannot be opened");
    setvbuf(in, file_buffer, _IOFBF, sizeof file_buffer);
    char magic[4];
    get(magic, sizeof magic);
    if (memcmp(magic, USB_RECORDING_MAGIC, sizeof magic) != 0) unusable("no recording");
}

static int replay(void) {
    static unsigned char buffer[65536];
    open_recording();
    libusb_context* context = NULL;
    libusb_device_handle* handle = open_device(&context);
    unsigned long long transfers = 0, differing = 0;
    int c;
    while ((c = fgetc(in)) != EOF) {
        const unsigned char endpoint = (unsigned char)c;
        const int length = (int)get32();
        const unsigned timeout = get32();
        if (length < 0 || (size_t)length > sizeof buffer) unusable("a transfer longer than 64 KiB");
        if (!(endpoint & LIBUSB_ENDPOINT_IN)) get(buffer, (size_t)length);
        int moved = 0;
        const int result = libusb_bulk_transfer(handle, endpoint, buffer, length, &moved, timeout);
        const int recorded_result = (int)get32(), recorded_moved = (int)get32();
        ++transfers;
        if (result != recorded_result || moved != recorded_moved) {
            if (differing++ == 0)
                fprintf(stderr, "usb_replay: transfer %llu (endpoint %02x, %d bytes) gave %d/%d, recorded %d/%d\n",
                        transfers, endpoint, length, result, moved, recorded_result, recorded_moved);
        }
    }
    fclose(in);
    if (transfers == 0) unusable("no transfers recorded");
    libusb_release_interface(handle, claimed_interface);
    libusb_close(handle);
    libusb_exit(context);
    if (differing) {
        fprintf(stderr, "usb_replay: %llu of %llu transfers differed from the recording\n", differing, transfers);
        return 3;
    }
    return 0;
}

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

/* Wall time of one fresh process, or a negative number when it failed. */
static double timed_run(char** argv) {
    const double start = now_ms();
    const pid_t child = fork();
    if (child == 0) {
        /* What either side prints is no part of the comparison. */
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, 1);
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    const double took = now_ms() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "usb_replay: %s exited %d\n", argv[0], WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        return -1;
    }
    return took;
}

static int by_value(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static double median_of(double* v, int n) {
    qsort(v, (size_t)n, sizeof *v, by_value);
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

/* How many OUT and IN transfers the recording holds. */
static void count_transfers(unsigned long* outs, unsigned long* ins) {
    *outs = *ins = 0;
    open_recording();
    int c;
    while ((c = fgetc(in)) != EOF) {
        const int length = (int)get32();
        get32();
        if (c & LIBUSB_ENDPOINT_IN) ++*ins;
        else {
            ++*outs;
            if (length > 0 && fseek(in, length, SEEK_CUR) != 0) unusable("cut short");
        }
        get32();
        get32();
    }
    fclose(in);
}

static int pairs_of(int pairs, char** command) {
    char* replay_argv[] = {"/proc/self/exe", (char*)path, NULL};
    double ratios[256], product[256], raw[256];
    if (pairs > 256) pairs = 256;
    for (int i = 0; i < pairs; ++i) {
        double a, b;
        if (i % 2 == 0) {
            a = timed_run(command);
            b = timed_run(replay_argv);
        } else {
            b = timed_run(replay_argv);
            a = timed_run(command);
        }
        if (a < 0 || b < 0) return 1;
        product[i] = a;
        raw[i] = b;
        ratios[i] = a / b;
    }
    printf("usb-update-ratio pairs (ms, whole process / replay):");
    for (int i = 0; i < pairs; ++i) printf(" %.0f/%.0f", product[i], raw[i]);
    printf("\n");
    unsigned long outs = 0, ins = 0;
    count_transfers(&outs, &ins);
    const double p = median_of(product, pairs), r = median_of(raw, pairs), m = median_of(ratios, pairs);
    printf("usb-update-ratio: whole process / raw libusb replaying its %lu OUT and %lu IN transfers = %.3f median of "
           "%d pairs (min %.3f, max %.3f, quartiles %.3f-%.3f); medians %.0f ms and %.0f ms; target <= 1.10: %s\n",
           outs, ins, m, pairs, ratios[0], ratios[pairs - 1], ratios[(pairs - 1) / 4],
           ratios[pairs - 1 - (pairs - 1) / 4], p, r, m <= 1.10 ? "within" : "OUTSIDE");
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 2) {
        path = argv[1];
        return replay();
    }
    if (argc >= 6 && strcmp(argv[1], "--pairs") == 0 && strcmp(argv[4], "--") == 0) {
        path = argv[3];
        return pairs_of(atoi(argv[2]) > 0 ? atoi(argv[2]) : 1, argv + 5);
    }
    fprintf(stderr, "usage: usb_replay RECORDING | usb_replay --pairs N RECORDING -- COMMAND [ARGS...]\n");
    return 2;
}
