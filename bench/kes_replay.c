/* kes_replay RECORDING: makes the calls of a recording (kes_recording.h) to Trelink's six exports,
 * in order and nothing else: the minimal client that a whole process of the tool is measured
 * against. The recording is read as it goes through one small buffer. Exits 0 when every call
 * returned what it returned when recorded, 3 when one did not (the first is named), 2 when the
 * recording cannot be read. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench/kes_recording.h"
#include "transfer/trelink.h"

static FILE* in;
static const char* path;
static unsigned long long call_number;
static unsigned long long mismatches;

static void unreadable(void) {
    fprintf(stderr, "kes_replay: %s is cut short or no recording\n", path);
    exit(2);
}
static void get(void* into, size_t size) {
    if (size && fread(into, 1, size, in) != size) unreadable();
}
static uint8_t get8(void) {
    uint8_t v;
    get(&v, 1);
    return v;
}
static uint16_t get16(void) {
    uint8_t b[2];
    get(b, 2);
    return (uint16_t)(b[0] | b[1] << 8);
}
static uint32_t get32(void) {
    uint8_t b[4];
    get(b, 4);
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

static void expect(const char* call, long long got, long long recorded) {
    if (got == recorded) return;
    if (mismatches++ == 0)
        fprintf(stderr, "kes_replay: call %llu (%s) gave %lld, recorded %lld\n", call_number, call, got, recorded);
}

int main(int argc, char** argv) {
    static unsigned char request[65536], response[65536], data[65536];
    static char deadline[64];
    static char buffer[65536];
    if (argc != 2) {
        fprintf(stderr, "usage: kes_replay RECORDING\n");
        return 2;
    }
    path = argv[1];
    in = fopen(path, "rb");
    if (!in) {
        perror(path);
        return 2;
    }
    setvbuf(in, buffer, _IOFBF, sizeof buffer);
    char magic[4];
    get(magic, sizeof magic);
    if (memcmp(magic, KES_RECORDING_MAGIC, sizeof magic) != 0) unreadable();
    int kind;
    while ((kind = fgetc(in)) != EOF) {
        ++call_number;
        switch (kind) {
        case KES_ENABLE: {
            const int enable = (int)get32();
            expect("EnableErrorMessages", EnableErrorMessages(enable), (int32_t)get32());
            break;
        }
        case KES_INIT: {
            const unsigned flags = get32();
            const uint32_t data_size = get32();
            if (data_size > sizeof data) unreadable();
            get(data, data_size);
            const uint32_t deadline_size = get32();
            if (deadline_size >= sizeof deadline) unreadable();
            get(deadline, deadline_size);
            deadline[deadline_size] = 0;
            if (deadline_size) setenv("TRELINK_ANSWER_TIMEOUT_MS", deadline, 1);
            else unsetenv("TRELINK_ANSWER_TIMEOUT_MS");
            expect("KesInitializeInterfaces", KesInitializeInterfaces(flags, data_size ? data : NULL), (int32_t)get32());
            break;
        }
        case KES_SEND: {
            const unsigned code = get32();
            const int has_request = get8();
            const uint16_t request_size = get16();
            const int has_response = get8();
            const uint16_t response_size = get16();
            const int has_returned = get8();
            if (has_request) get(request, request_size);
            uint16_t returned = 0;
            const int result = KesSendCommand(code, has_request ? request : NULL, request_size,
                                              has_response ? response : NULL, response_size,
                                              has_returned ? &returned : NULL);
            expect("KesSendCommand", result, (int32_t)get32());
            expect("KesSendCommand's returned size", returned, get16());
            break;
        }
        case KES_CLOSE: {
            const unsigned flags = get32();
            expect("KesCloseInterfaces", KesCloseInterfaces(flags), (int32_t)get32());
            break;
        }
        case KES_CONNECT:
            expect("KesConnectCommandResponseInterface", KesConnectCommandResponseInterface(), (int32_t)get32());
            break;
        case KES_PLAYBACK: {
            const uint32_t size = get32();
            if (size > sizeof data) unreadable();
            get(data, size);
            expect("KesAppendPlayback", KesAppendPlayback(data, size), (int32_t)get32());
            break;
        }
        default:
            unreadable();
        }
    }
    fclose(in);
    if (mismatches) {
        fprintf(stderr, "kes_replay: %llu of %llu calls differed from the recording\n", mismatches, call_number);
        return 3;
    }
    return 0;
}
