/* A recording of the calls a process makes to Trelink's six exports, as kes_record.so writes it
 * and kes_replay reads it: "KESR", then one record per call in call order, each a kind byte
 * followed by its fields. Integers are little-endian, of the sizes named.
 *
 *   KES_ENABLE    i32 enable, i32 result
 *   KES_INIT      u32 flags, u32 data size, data, u32 deadline size, deadline text
 *                 (TRELINK_ANSWER_TIMEOUT_MS at the call, empty when unset), i32 result
 *   KES_SEND      u32 code, u8 has request, u16 request size, u8 has response,
 *                 u16 response buffer size, u8 has returned size, request bytes (when there is a
 *                 request), i32 result, u16 returned size
 *   KES_CLOSE     u32 flags, i32 result
 *   KES_CONNECT   i32 result
 *   KES_PLAYBACK  u32 size, bytes, i32 result
 *
 * The data of KesInitializeInterfaces is recorded only for the simulator link, whose data is a
 * byte and a zero-terminated file name. */
#ifndef FLASHDESK_BENCH_KES_RECORDING_H
#define FLASHDESK_BENCH_KES_RECORDING_H

#define KES_RECORDING_MAGIC "KESR"

enum kes_record_kind {
    KES_ENABLE = 1,
    KES_INIT = 2,
    KES_SEND = 3,
    KES_CLOSE = 4,
    KES_CONNECT = 5,
    KES_PLAYBACK = 6,
};

/* Environment of kes_record.so: KES_RECORD names the recording to write; KES_TIMES names a file
 * that receives, when the process ends, one line "<first> <last> <calls> <cpu first> <cpu last>":
 * CLOCK_MONOTONIC nanoseconds at the start of the first KesSendCommand and at the end of the
 * last, how many there were, and the CPU time the process had used by then (microseconds, all
 * its threads). */
#define KES_RECORD_VARIABLE "KES_RECORD"
#define KES_TIMES_VARIABLE "KES_TIMES"

#endif
