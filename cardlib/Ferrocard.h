/**
 * @file Ferrocard.h
 * @brief Ferrocard: the card in Halvex's SD/MMC card reader, for SD applications.
 *
 * Ferrocard.dll carries an SD application's commands to the memory card in
 * the reader of Halvex's PCI SD/MMC host controller, through the maker's
 * card-reader driver (service HXSDCRDR). It holds no keys and computes
 * nothing on what it carries: identifiers, key blocks, challenges, responses
 * and blocks pass through unchanged, and the protocol is the application's.
 *
 * @par What an application meets, in order
 *
 * 1. The controller. DDSysInit finds the maker's controller and opens it;
 *    every command to the card goes to it, through the maker's driver. It is
 *    there only while the maker's driver is bound: Cardwell gives the
 *    controller to the system's standard SD host driver while an SDIO card
 *    is in the reader, and then every command fails until the maker's driver
 *    is back and DDSysInit has been called again.
 * 2. The card's drive. Windows shows a memory card in the reader as a
 *    removable disk with a drive letter. DDSysDrive finds that letter,
 *    DDChkSDCard asks the card whether it is write-protected and whether it
 *    is a high-capacity card, DDIdentify reports its size, a disk geometry
 *    and its CSD register's size fields, and DDSecureIdentify its capacity
 *    class. Writes are refused until a DDChkSDCard has had both answers from a
 *    card that is not write-protected.
 * 3. The media identifier and the media key block. DDGetMID reads the card's
 *    8-byte media identifier, DDReadMKB the 512-byte blocks of the media key
 *    block named by a selector. What keys they lead to is the application's
 *    business.
 * 4. The challenge and the response. The application and the card
 *    authenticate each other with two 8-byte challenges and two 8-byte
 *    responses, each response answering the other side's challenge, so that
 *    it comes after it: DDSetChallenge gives the card the application's
 *    challenge, DDGetChallenge fetches the card's, DDGetResponse fetches the
 *    card's response to the application's challenge (which the application
 *    checks), and DDSetResponse gives the card the application's response to
 *    the card's challenge. "Set" and "get" are the application's side: the
 *    library computes and checks nothing.
 * 5. The secure area. DDSecureRead and DDSecureWrite move blocks of the
 *    card's secure area, always from its first block, with one pair of
 *    commands; DDChangeSA sends the card the change-SA command. What the
 *    card asks for before it answers them is the card's protocol: the
 *    library reports only whether the controller carried the command.
 * 6. The protected area. DDReadPT reads blocks of the card's protected area
 *    by 32-bit block address, one block per pair of commands. DDWritePT,
 *    despite its name, writes sectors to the card's drive (the disk Windows
 *    shows, not the controller) with a SCSI WRITE(10).
 * 7. The end. DDFini and DDSysFini release nothing and return 0; the
 *    controller stays open until the process ends.
 *
 * @par Rules every function keeps
 *
 * - Every function returns a status, FERROCARD_OK (0) or one of the
 *   FERROCARD_E_ codes; FerrocardStatusText() gives its meaning in words.
 * - The library keeps no lock and no thread: call it from one thread at a
 *   time. Its state (the controller, the drive found, the card's two flags)
 *   is the process's, shared by every caller.
 * - Block counts are 16-bit (0 to 65535) counts of 512-byte blocks; a
 *   buffer holds exactly count x 512 bytes (8 bytes for the identifier,
 *   challenge and response) and is never kept after the call. A count of 0
 *   needs no buffer. A buffer the call needs that is NULL is refused before
 *   anything is sent; each function says with which status.
 * - A block range never wraps round to block 0: one whose last block is
 *   past what its numbering holds is refused with FERROCARD_E_COMMAND_FAILED
 *   before anything is sent.
 * - A read that fails may have written part of its buffer; each function
 *   says which bytes.
 * - DDGetMID and DDReadMKB try each command up to 10 times, 2 seconds after
 *   every failed attempt (the tenth too): without a controller, such a call
 *   fails only after 20 seconds. DDWritePT pauses 60 ms after every write
 *   that opened the drive. Nothing else waits.
 * - The card's drive is opened for reading and writing (DDSysDrive,
 *   DDIdentify, DDWritePT), which Windows allows administrators only: run
 *   elevated, or no drive is found.
 *
 * @par Capacity classes
 *
 * The drive probe of DDSysDrive and DDIdentify reckons the drive's size in
 * MB from the disk geometry Windows reports, (cylinders + 1) x (tracks per
 * cylinder + 1) x (sectors per track + 1) / 2048, and puts it in the first
 * class whose bound it does not exceed. The class is a label, not a size;
 * it also gives DDIdentify's heads and sectors per track.
 *
 * | Size in MB at most | Capacity class | noHeads | sectorsPerTrack |
 * |-------------------:|---------------:|--------:|----------------:|
 * |                  8 |            160 |       2 |              32 |
 * |                 16 |            320 |       2 |              32 |
 * |                 32 |            640 |       4 |              32 |
 * |                 64 |           1280 |       8 |              32 |
 * |                128 |           2560 |       8 |              32 |
 * |                256 |           5120 |      16 |              32 |
 * |                512 |          10240 |      16 |              63 |
 * |               1024 |          20480 |      32 |              63 |
 * |               2048 |          40960 |      64 |              63 |
 * |               4096 |          65536 |     128 |              63 |
 * |               8192 |          98304 |     255 |              63 |
 * |              16384 |         131072 |     255 |              63 |
 * |              32768 |         163840 |     255 |              63 |
 * |   any larger size  |         262144 |     255 |              63 |
 *
 * @par Building
 *
 * C89 or later, or C++. Microsoft's compiler: cl app.c Ferrocard.lib
 * (Visual C++ 2010 or later, for stdint.h); mingw-w64: gcc app.c
 * -L. -lFerrocard. Or load Ferrocard.dll by its full path with LoadLibrary
 * and find each function with GetProcAddress through the _fn types below.
 * A 32-bit application needs the 32-bit DLL, a 64-bit one the 64-bit DLL.
 */
#ifndef FERROCARD_H
#define FERROCARD_H

#include <stdint.h>

/** The exports' calling convention: C's, the caller cleans the stack. */
#if defined(_WIN32) && !defined(_WIN64)
#define FERROCARD_CALL __cdecl
#else
#define FERROCARD_CALL
#endif

/**
 * @name Version
 * The version block of the Ferrocard.dll this header describes. The file
 * version names the DLL's build, the product version the interface; the
 * DLL's own are in its version resource (GetFileVersionInfo,
 * VS_FIXEDFILEINFO), to compare with these. The package that ships both has
 * a version of its own (README.txt).
 * @{
 */
#define FERROCARD_FILE_VERSION_MAJOR 0
#define FERROCARD_FILE_VERSION_MINOR 0
#define FERROCARD_FILE_VERSION_BUILD 2
#define FERROCARD_FILE_VERSION_REVISION 6
#define FERROCARD_FILE_VERSION_TEXT "0.0.2.6"
#define FERROCARD_PRODUCT_VERSION_MAJOR 1
#define FERROCARD_PRODUCT_VERSION_MINOR 0
#define FERROCARD_PRODUCT_VERSION_BUILD 2
#define FERROCARD_PRODUCT_VERSION_REVISION 0
#define FERROCARD_PRODUCT_VERSION_TEXT "1.0.2.0"
/** @} */

#ifdef __cplusplus
extern "C" {
#endif

/** The statuses the functions return. */
enum {
    /** Success. */
    FERROCARD_OK = 0,
    /** DDSysDrive found no card drive: no reader with a card in it. */
    FERROCARD_E_NO_CARD_DRIVE = 0x1002,
    /** A write refused, nothing sent: the card is write-protected, or no
     * DDChkSDCard has had both its answers yet. */
    FERROCARD_E_WRITE_PROTECTED = 0x1005,
    /** DDSysDrive with a drive index other than 0, or DDChkSDCard with a
     * drive other than DDSysDrive's; or their out-pointer is NULL. */
    FERROCARD_E_BAD_DRIVE = 0x1181,
    /** A command to the card or the drive failed, or was refused before it
     * was sent (a NULL buffer, a range past the last block). */
    FERROCARD_E_COMMAND_FAILED = 0x12FF,
    /** DDSysInit found or opened no controller. */
    FERROCARD_E_NO_CONTROLLER = 0x13FF
};

/** The bits of DDChkSDCard's card status word. */
enum {
    /** The drive check passed and the card was asked: set by every
     * DDChkSDCard that returns FERROCARD_OK or FERROCARD_E_COMMAND_FAILED.
     * It does not say that the card answered. */
    FERROCARD_CARD_CHECKED = 0x0001,
    /** The card answered that it is write-protected. */
    FERROCARD_CARD_WRITE_PROTECTED = 0x0002,
    /** A high-capacity card of up to 32 GB: C_SIZE + 1 at most 65536. */
    FERROCARD_CARD_HIGH_CAPACITY = 0x0004,
    /** A high-capacity card above 32 GB: C_SIZE + 1 above 65536. */
    FERROCARD_CARD_EXTENDED_CAPACITY = 0x0010
};

/**
 * Finds the maker's controller and opens it for the card commands.
 *
 * Takes the first device described as "Halvex Integrated MMC/SD
 * controller" among the storage-port devices, tells the maker's driver it
 * was found and opens it. The handle is the process's until it ends; a
 * later successful DDSysInit replaces it. Call it first, and again after
 * Cardwell has given the controller back to the maker's driver.
 *
 * @retval FERROCARD_OK the controller is open.
 * @retval FERROCARD_E_NO_CONTROLLER no such controller: the maker's driver is
 *   not installed, or Cardwell has given the controller to the standard SD
 *   host driver for an SDIO card. The handle of an earlier success stays. Or
 *   the controller was found but would not open: then every card command
 *   fails until a DDSysInit succeeds.
 *
 * Ordinal 1.
 */
uint32_t FERROCARD_CALL DDSysInit(void);

/**
 * Ends the use of the library, and releases nothing: the controller stays
 * open until the process ends, and every function goes on working after it.
 *
 * @retval FERROCARD_OK always.
 *
 * Ordinal 2.
 */
uint32_t FERROCARD_CALL DDSysFini(void);

/**
 * @name DDInit, DDLockDrive, DDUnlockDrive
 * One function under three names (ordinals 3, 20 and 21). It does nothing:
 * in particular DDLockDrive locks nothing. It reads no argument.
 * @retval FERROCARD_OK always.
 * @{
 */
uint32_t FERROCARD_CALL DDInit(void);
uint32_t FERROCARD_CALL DDLockDrive(void);
uint32_t FERROCARD_CALL DDUnlockDrive(void);
/** @} */

/**
 * Ends the use of the card's drive, and changes nothing: the library holds
 * no handle to the drive between calls. May be called any number of times,
 * and everything goes on working after it.
 *
 * @retval FERROCARD_OK always, at once.
 *
 * Ordinal 4.
 */
uint32_t FERROCARD_CALL DDFini(void);

/**
 * Finds the card's drive: the drive letter of the maker's SD reader with a
 * card in it.
 *
 * Tries drives C: to Z: in turn (never A: or B:) and takes the first whose
 * device names the maker ("Halvex") and an SD reader ("SD...") and whose
 * disk geometry Windows can read, which it can only while a card is in the
 * reader. The drive found is the one DDChkSDCard expects, DDIdentify asks
 * and DDWritePT writes to; its capacity class is DDSecureIdentify's. Needs
 * no DDSysInit: it works on the drive, not the controller.
 *
 * @param driveIndex which reader: 0, the only one there is.
 * @param driveId    receives the drive's number, 3 (C:) to 26 (Z:); with
 *                   several such readers, the lowest letter's.
 * @retval FERROCARD_OK             the drive was found; *driveId holds it.
 * @retval FERROCARD_E_BAD_DRIVE    driveIndex is not 0, or driveId is NULL:
 *   nothing is tried or written.
 * @retval FERROCARD_E_NO_CARD_DRIVE no drive is the reader with a card in it
 *   (no card, the maker's driver not bound, no administrator rights):
 *   *driveId and the drive found before are left as they were.
 *
 * Ordinal 5.
 */
uint32_t FERROCARD_CALL DDSysDrive(uint16_t driveIndex, uint16_t* driveId);

/**
 * Asks the card whether it is write-protected and whether it is a
 * high-capacity card, and reads its CSD register when it is.
 *
 * Both questions are asked on every call, in that order, whatever the first
 * answered. An answer of exactly 1 is yes, any other a no. The answers set
 * the library's two flags: writes (DDSecureWrite, DDWritePT) are refused
 * from load until a call has had both answers and the card said it is not
 * write-protected, and again whenever a call could not ask one of them; the
 * high-capacity answer chooses how DDIdentify reads the CSD register, so
 * call this before DDIdentify.
 *
 * Before: DDSysInit, and DDSysDrive for driveNumber (before any successful
 * DDSysDrive the drive expected is 0).
 *
 * @param driveNumber the number DDSysDrive gave.
 * @param cardStatus  receives the card status word, FERROCARD_CARD_ bits.
 * @retval FERROCARD_OK both questions answered (and the CSD register read,
 *   for a high-capacity card); *cardStatus holds the answers.
 * @retval FERROCARD_E_BAD_DRIVE driveNumber is not the drive DDSysDrive found,
 *   or cardStatus is NULL: nothing is asked, written or changed.
 * @retval FERROCARD_E_COMMAND_FAILED a question could not be asked (no
 *   controller, or the controller refused it), or the card is high-capacity
 *   and its CSD register could not be read. *cardStatus holds
 *   FERROCARD_CARD_CHECKED and what was learnt: WRITE_PROTECTED only if the
 *   card said so (its absence is no answer or a no), a capacity bit only if
 *   the register was read. Writes stay refused when a question went
 *   unanswered; the high-capacity flag keeps its last answer when that
 *   question went unanswered.
 *
 * Ordinal 6.
 */
uint32_t FERROCARD_CALL DDChkSDCard(uint16_t driveNumber, uint16_t* cardStatus);

/**
 * The card's size, a disk geometry derived from it, and the size fields of
 * its CSD register.
 *
 * Probes the drive DDSysDrive found again (so the answer is the card in the
 * reader now), asks its size with READ CAPACITY(10), and reads the CSD
 * register. The register's size fields are read in the high-capacity layout
 * when the last DDChkSDCard that had the card's answer found a high-capacity
 * card, in the standard layout otherwise (so also before any DDChkSDCard,
 * which gives a high-capacity card's fields wrongly).
 *
 * Before: DDSysInit, DDSysDrive, DDChkSDCard.
 *
 * Every pointer is needed; on failure nothing is written through any.
 *
 * @param noSectors       the card's size in sectors of 512 bytes: READ
 *                        CAPACITY(10)'s last block address + 1.
 * @param erasesize       SECTOR_SIZE + 1: the erasable sector, in write
 *                        blocks (1 to 128).
 * @param cylinders       noSectors / noHeads / sectorsPerTrack (each division
 *                        truncating), cut to its low 16 bits.
 * @param noHeads         by the capacity class (table above).
 * @param bytesPerSector  512, always.
 * @param sectorsPerTrack by the capacity class (table above).
 * @param readBlLen       READ_BL_LEN: the block length as a power of two
 *                        (9 for 512 bytes).
 * @param Csize           C_SIZE. Standard layout: all 12 bits; the card
 *                        holds (C_SIZE + 1) x 2^(C_SIZE_MULT + 2) blocks of
 *                        2^READ_BL_LEN bytes. High-capacity layout: the low
 *                        16 bits of the 22, of (C_SIZE + 1) x 512 KiB; above
 *                        32 GB take the size from noSectors instead.
 * @param CsizeMult       C_SIZE_MULT (0 to 7); 0 in the high-capacity layout.
 * @param reserved1       0.
 * @param reserved2       0.
 * @retval FERROCARD_OK the eleven values are written.
 * @retval FERROCARD_E_COMMAND_FAILED a pointer is NULL (nothing is done); or
 *   the drive is not the reader with a card in it any more (or none was
 *   found: before DDSysDrive there is none); or READ CAPACITY(10) gave no
 *   size (it failed, or the card holds 2^32 sectors or more, 2 TiB, which it
 *   cannot report); or the CSD register could not be read (no controller).
 *
 * Ordinal 7.
 */
uint32_t FERROCARD_CALL DDIdentify(uint32_t* noSectors, uint32_t* erasesize, uint16_t* cylinders, uint16_t* noHeads,
                                   uint16_t* bytesPerSector, uint16_t* sectorsPerTrack, uint8_t* readBlLen,
                                   uint16_t* Csize, uint8_t* CsizeMult, uint8_t* reserved1, uint8_t* reserved2);

/**
 * The card's capacity class (table above), as the last drive probe that
 * found the reader left it: DDSysDrive's, or a later DDIdentify's.
 *
 * @param capacityClass receives the class; 0 before any drive was found.
 *                      NULL: nothing is written.
 * @retval FERROCARD_OK always.
 *
 * Ordinal 8.
 */
uint32_t FERROCARD_CALL DDSecureIdentify(uint32_t* capacityClass);

/**
 * Reads count blocks of the card's secure area, from its first block, with
 * one pair of commands: the address (0, count), then the data.
 *
 * Before: DDSysInit, and whatever the card's protocol asks first.
 *
 * @param destination count x 512 bytes; NULL only with a count of 0.
 * @param count       0 to 65535 blocks. 0 still sends both commands, for no
 *                    data.
 * @retval FERROCARD_OK the blocks are in destination.
 * @retval FERROCARD_E_COMMAND_FAILED destination is NULL (nothing sent), or
 *   the address command failed or its memory could not be had (destination
 *   untouched), or the data command failed: then all count x 512 bytes are
 *   overwritten with what the reply held (zeros unless the driver wrote).
 *
 * Ordinal 9.
 */
uint32_t FERROCARD_CALL DDSecureRead(uint8_t* destination, uint16_t count);

/**
 * Writes count blocks to the card's secure area, from its first block, with
 * one pair of commands: the address (0, count), then the data.
 *
 * Before: DDSysInit, a DDChkSDCard that had both answers from a card that is
 * not write-protected, and whatever the card's protocol asks first.
 *
 * @param data  count x 512 bytes, only read; NULL only with a count of 0.
 * @param count 0 to 65535 blocks. 0 still sends both commands, for no data.
 * @retval FERROCARD_OK the controller took the blocks.
 * @retval FERROCARD_E_WRITE_PROTECTED writes are refused (see DDChkSDCard):
 *   nothing is sent.
 * @retval FERROCARD_E_COMMAND_FAILED data is NULL (nothing sent), or a
 *   command failed or its memory could not be had.
 *
 * Ordinal 10.
 */
uint32_t FERROCARD_CALL DDSecureWrite(const uint8_t* data, uint16_t count);

/**
 * Reads count blocks of the card's protected area from block first, one
 * block at a time, each with a pair of commands: the address (block, 1),
 * then the block.
 *
 * Before: DDSysInit, and whatever the card's protocol asks first.
 *
 * @param destination count x 512 bytes; NULL only with a count of 0.
 * @param count       0 to 65535 blocks; 0 returns FERROCARD_OK at once and
 *                    sends nothing.
 * @param first       the first block's 32-bit address. The last block,
 *                    first + count - 1, must be at most 0xFFFFFFFF: a range
 *                    past it is refused, it does not wrap round to block 0.
 * @retval FERROCARD_OK the blocks are in destination.
 * @retval FERROCARD_E_COMMAND_FAILED destination is NULL or the range goes
 *   past block 0xFFFFFFFF (nothing sent); or a command failed, which ends
 *   the read: the blocks before it are in destination, a failed data
 *   command's block holds what the reply held, and a failed address command
 *   (or memory that could not be had) leaves its block untouched, as are all
 *   after it.
 *
 * Ordinal 11.
 */
uint32_t FERROCARD_CALL DDReadPT(uint8_t* destination, uint16_t count, uint32_t first);

/**
 * Writes secsize sectors to the card's drive from sector offset: a SCSI
 * WRITE(10) through the drive (not the controller), with data handed to
 * Windows in place.
 *
 * Opens the drive DDSysDrive found, makes sure it is still the maker's
 * reader (another disk may have taken its letter since), locks the volume
 * (the write goes ahead even if the lock is refused), writes, closes the
 * drive, which ends the lock, and pauses 60 ms.
 *
 * Before: DDSysInit, DDSysDrive, and a DDChkSDCard that had both answers
 * from a card that is not write-protected.
 *
 * @param data    secsize x 512 bytes, only read; NULL only with a secsize
 *                of 0.
 * @param secsize 0 to 65535 sectors of 512 bytes. 0 sends a WRITE(10) of no
 *                sectors, which writes nothing.
 * @param offset  the first sector. The last, offset + secsize - 1, must be
 *                at most 0xFFFFFFFF: a range past it is refused, it does
 *                not wrap round to sector 0.
 * @retval FERROCARD_OK the drive took the sectors (its SCSI status GOOD).
 * @retval FERROCARD_E_WRITE_PROTECTED writes are refused (see DDChkSDCard):
 *   nothing is opened.
 * @retval FERROCARD_E_COMMAND_FAILED data is NULL or the range goes past
 *   sector 0xFFFFFFFF (nothing opened); or the drive would not open (none
 *   was found yet, or it is gone); or it is not the maker's reader any more,
 *   or the write failed or did not end with GOOD status (after the pause).
 *
 * Ordinal 12.
 */
uint32_t FERROCARD_CALL DDWritePT(const uint8_t* data, uint16_t secsize, uint32_t offset);

/**
 * Reads count blocks of media key block selector, from block index
 * firstIndex, one block at a time; each block's command is tried up to 10
 * times, 2 seconds after every failed attempt.
 *
 * Before: DDSysInit.
 *
 * @param destination count x 512 bytes; NULL only with a count of 0.
 * @param count       0 to 65535 blocks; 0 returns FERROCARD_OK at once and
 *                    sends nothing.
 * @param selector    which media key block, 0 to 255, passed to the card.
 * @param firstIndex  the first block's 16-bit index. The last,
 *                    firstIndex + count - 1, must be at most 0xFFFF: a range
 *                    past it is refused, it does not wrap round to index 0.
 * @retval FERROCARD_OK the blocks are in destination.
 * @retval FERROCARD_E_COMMAND_FAILED destination is NULL or the range goes
 *   past index 0xFFFF (nothing sent); or a block failed 10 times (after 20
 *   seconds), which ends the read: the blocks before it are in destination,
 *   the failed block's slot holds what the last reply held (the 4-byte
 *   request, then zeros, unless the driver wrote), and the slots after it
 *   are untouched; or memory could not be had (that slot untouched).
 *
 * Ordinal 13.
 */
uint32_t FERROCARD_CALL DDReadMKB(uint8_t* destination, uint16_t count, uint8_t selector, uint16_t firstIndex);

/**
 * @name The identifier, the challenges and the responses: 8 bytes each
 * Each sends one command (DDGetMID up to 10 times, 2 seconds after every
 * failed attempt) and needs DDSysInit first. A NULL pointer is refused with
 * FERROCARD_E_COMMAND_FAILED and nothing sent.
 * A get writes its 8 bytes whether or not the command succeeded: after a
 * failure they hold what the reply held, zeros unless the driver wrote. A
 * set only reads its 8 bytes.
 * @retval FERROCARD_OK the command was carried.
 * @retval FERROCARD_E_COMMAND_FAILED it failed (DDGetMID: 10 times, after 20
 *   seconds), or the pointer is NULL.
 * @{
 */
/** The card's 8-byte media identifier, into mediaId. Ordinal 14. */
uint32_t FERROCARD_CALL DDGetMID(uint8_t* mediaId);
/** Gives the card the application's 8-byte challenge. Ordinal 15. */
uint32_t FERROCARD_CALL DDSetChallenge(const uint8_t* challenge);
/** Fetches the card's 8-byte challenge to the application. Ordinal 16. */
uint32_t FERROCARD_CALL DDGetChallenge(uint8_t* challenge);
/** Gives the card the application's 8-byte response to the card's
 * challenge. Ordinal 17. */
uint32_t FERROCARD_CALL DDSetResponse(const uint8_t* response);
/** Fetches the card's 8-byte response to the application's challenge.
 * Ordinal 18. */
uint32_t FERROCARD_CALL DDGetResponse(uint8_t* response);
/** @} */

/**
 * Sends the card the change-SA command of its secure area, with no data
 * either way; what it changes is the card's protocol.
 *
 * Before: DDSysInit, and whatever the card's protocol asks first.
 *
 * @retval FERROCARD_OK the controller carried the command.
 * @retval FERROCARD_E_COMMAND_FAILED it did not (no controller, or refused).
 *
 * Ordinal 19.
 */
uint32_t FERROCARD_CALL DDChangeSA(void);

/* Ordinal 22 is the library's entry routine, DllMain: exported by name, but
 * in neither import library, and never for an application to call. */

/**
 * @name Pointer types
 * The same functions as pointer types, for applications that load the DLL
 * with LoadLibrary and GetProcAddress. GetProcAddress answers a FARPROC:
 * cast it through void (*)(void), which every function type may be cast
 * from and to without a warning (-Wcast-function-type), as in
 * (DDSysInit_fn)(void (*)(void))GetProcAddress(dll, "DDSysInit").
 * @{
 */
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
/** @} */

/* Header-only, not exported: static and inline, so that a program that
 * never calls it gets no warning and no copy. C89 has no inline keyword;
 * the compilers' own spellings stand in. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define FERROCARD_INLINE inline
#elif defined(_MSC_VER)
#define FERROCARD_INLINE __inline
#elif defined(__GNUC__)
#define FERROCARD_INLINE __inline__
#else
#define FERROCARD_INLINE
#endif

/**
 * A status in words, for messages: "success", "no controller found or
 * opened", ...; "unknown status" for a value no function returns. Defined
 * here, not exported by the DLL.
 */
static FERROCARD_INLINE const char* FerrocardStatusText(uint32_t status) {
    switch (status) {
    case FERROCARD_OK:
        return "success";
    case FERROCARD_E_NO_CARD_DRIVE:
        return "no card drive: no reader with a card in it";
    case FERROCARD_E_WRITE_PROTECTED:
        return "write refused: the card is write-protected";
    case FERROCARD_E_BAD_DRIVE:
        return "not the card's drive";
    case FERROCARD_E_COMMAND_FAILED:
        return "a command to the card or the drive failed";
    case FERROCARD_E_NO_CONTROLLER:
        return "no controller found or opened";
    default:
        return "unknown status";
    }
}

#ifdef __cplusplus
}
#endif

#endif /* FERROCARD_H */
