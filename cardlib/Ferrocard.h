/*
 * Ferrocard: the card in Halvex's SD/MMC reader, for SD applications.
 *
 * Load Ferrocard.dll (or link its import library) and call, in this order:
 * DDSysInit, DDSysDrive, DDChkSDCard with the drive DDSysDrive reported,
 * DDIdentify, then the secure commands your protocol needs, and DDFini and
 * DDSysFini at the end. Every function returns a status: FERROCARD_OK (0) or
 * one of the FERROCARD_E_* codes below. The library keeps no lock: call it
 * from one thread at a time.
 *
 * Counts are 16-bit block counts of 512 bytes; caller buffers hold exactly
 * count x 512 bytes (8 bytes for the identifier, challenge and response) and
 * are never kept after a call returns.
 */
#ifndef FERROCARD_H
#define FERROCARD_H

#include <stdint.h>

/* The exports use the C calling convention: the caller cleans the stack. */
#if defined(_WIN32) && !defined(_WIN64)
#define FERROCARD_CALL __cdecl
#else
#define FERROCARD_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. */
enum {
    FERROCARD_OK = 0,
    FERROCARD_E_NO_CARD_DRIVE = 0x1002,   /* DDSysDrive found no card drive */
    FERROCARD_E_WRITE_PROTECTED = 0x1005, /* a write refused: the card is (or may be) write-protected */
    FERROCARD_E_BAD_DRIVE = 0x1181,       /* a drive index other than 0, or a drive other than DDSysDrive's */
    FERROCARD_E_COMMAND_FAILED = 0x12FF,  /* a command to the card or the drive failed */
    FERROCARD_E_NO_CONTROLLER = 0x13FF    /* DDSysInit found or opened no controller */
};

/* DDChkSDCard's card status bits. */
enum {
    FERROCARD_CARD_CHECKED = 0x0001, /* the checks ran */
    FERROCARD_CARD_WRITE_PROTECTED = 0x0002,
    FERROCARD_CARD_HIGH_CAPACITY = 0x0004,    /* high capacity, up to 32 GB */
    FERROCARD_CARD_EXTENDED_CAPACITY = 0x0010 /* high capacity, above 32 GB */
};

/* Ordinal 1: find and open the reader's controller. */
uint32_t FERROCARD_CALL DDSysInit(void);
/* Ordinal 2: nothing to release; the controller stays open. */
uint32_t FERROCARD_CALL DDSysFini(void);
/* Ordinals 3, 20, 21: one function under three names; does nothing. */
uint32_t FERROCARD_CALL DDInit(void);
uint32_t FERROCARD_CALL DDLockDrive(void);
uint32_t FERROCARD_CALL DDUnlockDrive(void);
/* Ordinal 4: ends the use of the card's drive; holds nothing, changes nothing. */
uint32_t FERROCARD_CALL DDFini(void);
/* Ordinal 5: the drive letter number (3 = C ... 26 = Z) of the reader with a card in it. */
uint32_t FERROCARD_CALL DDSysDrive(uint16_t driveIndex, uint16_t* driveId);
/* Ordinal 6: write protection and capacity of the card in drive `driveNumber`.
 * FERROCARD_E_COMMAND_FAILED when a question could not be asked (or the CSD
 * could not be read): the bits hold what was learnt, and DDWritePT and
 * DDSecureWrite answer FERROCARD_E_WRITE_PROTECTED until a check succeeds. */
uint32_t FERROCARD_CALL DDChkSDCard(uint16_t driveNumber, uint16_t* cardStatus);
/* Ordinal 7: size, a disk geometry and the size fields of the card's CSD register. */
uint32_t FERROCARD_CALL DDIdentify(uint32_t* noSectors, uint32_t* erasesize, uint16_t* cylinders, uint16_t* noHeads,
                                   uint16_t* bytesPerSector, uint16_t* sectorsPerTrack, uint8_t* readBlLen,
                                   uint16_t* Csize, uint8_t* CsizeMult, uint8_t* reserved1, uint8_t* reserved2);
/* Ordinal 8: the card's capacity class (0 before DDSysDrive found it). */
uint32_t FERROCARD_CALL DDSecureIdentify(uint32_t* capacityClass);
/* Ordinals 9 and 10: count blocks of the secure area, from its start. */
uint32_t FERROCARD_CALL DDSecureRead(uint8_t* destination, uint16_t count);
uint32_t FERROCARD_CALL DDSecureWrite(const uint8_t* data, uint16_t count);
/* Ordinal 11: count blocks of the protected area from block `first`. */
uint32_t FERROCARD_CALL DDReadPT(uint8_t* destination, uint16_t count, uint32_t first);
/* Ordinal 12: `secsize` sectors to the card's drive from sector `offset`. */
uint32_t FERROCARD_CALL DDWritePT(const uint8_t* data, uint16_t secsize, uint32_t offset);
/* Ordinal 13: count blocks of the media key block `selector`, from block `firstIndex`. */
uint32_t FERROCARD_CALL DDReadMKB(uint8_t* destination, uint16_t count, uint8_t selector, uint16_t firstIndex);
/* Ordinals 14 to 18: 8 bytes each. */
uint32_t FERROCARD_CALL DDGetMID(uint8_t* mediaId);
uint32_t FERROCARD_CALL DDSetChallenge(const uint8_t* challenge);
uint32_t FERROCARD_CALL DDGetChallenge(uint8_t* challenge);
uint32_t FERROCARD_CALL DDSetResponse(const uint8_t* response);
uint32_t FERROCARD_CALL DDGetResponse(uint8_t* response);
/* Ordinal 19 */
uint32_t FERROCARD_CALL DDChangeSA(void);
/* Ordinal 22 is the library's entry routine, DllMain; applications never call it. */

/* The same functions as pointer types, for applications that load the
 * library with LoadLibrary and GetProcAddress. */
typedef uint32_t(FERROCARD_CALL* DDSysInit_fn)(void);
typedef uint32_t(FERROCARD_CALL* DDSysFini_fn)(void);
typedef uint32_t(FERROCARD_CALL* DDInit_fn)(void);
typedef uint32_t(FERROCARD_CALL* DDLockDrive_fn)(void);
typedef uint32_t(FERROCARD_CALL* DDUnlockDrive_fn)(void);
typedef uint32_t(FERROCARD_CALL* DDFini_fn)(void);
typedef uint32_t(FERROCARD_CALL* DDSysDrive_fn)(uint16_t, uint16_t*);
typedef uint32_t(FERROCARD_CALL* DDChkSDCard_fn)(uint16_t, uint16_t*);
typedef uint32_t(FERROCARD_CALL* DDIdentify_fn)(uint32_t*, uint32_t*, uint16_t*, uint16_t*, uint16_t*, uint16_t*,
                                                uint8_t*, uint16_t*, uint8_t*, uint8_t*, uint8_t*);
typedef uint32_t(FERROCARD_CALL* DDSecureIdentify_fn)(uint32_t*);
typedef uint32_t(FERROCARD_CALL* DDSecureRead_fn)(uint8_t*, uint16_t);
typedef uint32_t(FERROCARD_CALL* DDSecureWrite_fn)(const uint8_t*, uint16_t);
typedef uint32_t(FERROCARD_CALL* DDReadPT_fn)(uint8_t*, uint16_t, uint32_t);
typedef uint32_t(FERROCARD_CALL* DDWritePT_fn)(const uint8_t*, uint16_t, uint32_t);
typedef uint32_t(FERROCARD_CALL* DDReadMKB_fn)(uint8_t*, uint16_t, uint8_t, uint16_t);
typedef uint32_t(FERROCARD_CALL* DDGetMID_fn)(uint8_t*);
typedef uint32_t(FERROCARD_CALL* DDSetChallenge_fn)(const uint8_t*);
typedef uint32_t(FERROCARD_CALL* DDGetChallenge_fn)(uint8_t*);
typedef uint32_t(FERROCARD_CALL* DDSetResponse_fn)(const uint8_t*);
typedef uint32_t(FERROCARD_CALL* DDGetResponse_fn)(uint8_t*);
typedef uint32_t(FERROCARD_CALL* DDChangeSA_fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* FERROCARD_H */
