/* tarvex: data calls through a telephone modem to a heat calculator.
 *
 * Sixteen C functions. `slot` selects the modem: 1..8 the modem on COM1..COM8, 0 the first
 * modem found on COM1..COM8; above 8 every function fails (returns 0, or the "no statistics"
 * text). Texts are zero-terminated Windows-1251. Results are 1/0 or byte counts; the reasons of
 * failures go to the slot's history file when one is open.
 *
 * Which serial ports carry modems is configured by the environment variable TARVEX_MODEMS,
 * e.g. TARVEX_MODEMS="COM3 COM5:33600/init=X3/dial=ATDP" (a port, optionally its modem's highest
 * rate, then options: init=, dte=, rtscts, dial=; see the README).
 *
 * Answer mode: the "window" is a file descriptor (a pipe's or a socket's writing end). For each
 * notification the library writes one TarvexNotification record of 12 bytes in one write:
 * `code` 1 = an incoming call is offered (answer it with ModemConnectAnswer), 2 = answer mode
 * has stopped working because the line was closed (e.g. the modem was switched off; reported
 * by a check once a minute). A record that cannot be written at once is dropped; the
 * descriptor stays the caller's.
 */
#ifndef TARVEX_H
#define TARVEX_H

#include <stdint.h>

#if defined(TARVEX_BUILDING)
#define TARVEX_API __attribute__((visibility("default")))
#else
#define TARVEX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TarvexNotification {
    uint32_t message; /* the message number given to ModemAnswerModeOn */
    uint32_t code;    /* 1 call offered, 2 line closed */
    uint32_t slot;    /* the slot index */
} TarvexNotification;

/* 1 when a channel is open. Up to `attempts` complete attempts; rates in bit/s; time-out in
 * seconds. */
TARVEX_API uint32_t ModemConnect(uint32_t slot, const char* phoneNumber, uint32_t minRate,
                                 uint32_t maxRate, uint32_t timeoutSeconds, uint32_t attempts);
/* Ends the call (the line stays open while answer mode is on). 1 for a valid slot; 0 only when
 * an internal failure stopped it (no function of this library throws). */
TARVEX_API uint32_t ModemDisconnect(uint32_t slot);
/* Raw transfers of 1..256 bytes; the number of bytes moved. */
TARVEX_API uint32_t ModemRead(uint32_t slot, uint32_t length, uint8_t* buffer);
TARVEX_API uint32_t ModemWrite(uint32_t slot, uint32_t length, const uint8_t* buffer);
/* Framed heat-calculator array read and write; `length` on success, 0 on any failure. */
TARVEX_API uint32_t ModemReadHC(uint32_t slot, uint32_t subscriber, uint32_t address,
                                uint32_t length, uint8_t* buffer);
TARVEX_API uint32_t ModemWriteHC(uint32_t slot, uint32_t subscriber, uint32_t address,
                                 uint32_t length, const uint8_t* buffer);
/* History file: appended to, Windows-1251 with CR LF. `detailed` nonzero records every data
 * operation. */
TARVEX_API uint32_t ModemOpenHistoryFile(uint32_t slot, const char* path, uint32_t detailed);
TARVEX_API uint32_t ModemCloseHistoryFile(uint32_t slot);
/* Statistics texts; they stay the library's and valid until the next statistics call for the
 * slot. */
TARVEX_API const char* ModemGetStatistics(uint32_t slot);
TARVEX_API const char* ModemGetStatisticsAll(uint32_t slot);
TARVEX_API const char* ModemGetVersion(void);
/* 1 while the channel is open. */
TARVEX_API uint32_t ModemGetStatus(uint32_t slot);
TARVEX_API uint32_t ModemAnswerModeOn(uint32_t slot, int window, uint32_t message);
TARVEX_API uint32_t ModemAnswerModeOff(uint32_t slot);
/* Answers the offered call after `rings` rings (at most 10). */
TARVEX_API uint32_t ModemConnectAnswer(uint32_t slot, uint32_t rings, uint32_t timeoutSeconds);
/* Nonzero while connected: the sign that the connection stands. The handle stays the
 * library's; it is not a file descriptor and must not be closed. */
TARVEX_API uintptr_t ModemGetCommHandle(uint32_t slot);

#ifdef __cplusplus
}
#endif

#endif /* TARVEX_H */
