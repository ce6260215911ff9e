/*
 * The card-reader stand-in as its tests see it: the names under which its
 * devices appear, the control requests with which a test sets the card and
 * the driver's misbehaviour and reads back every request the driver
 * received, and the card model's data patterns.
 *
 * One header for three programs: the driver (x64, kernel mode), the program
 * that installs it (x64) and the SD application of either architecture. So
 * every record has fixed-width fields and no pointers, and one layout for
 * all three.
 */
#ifndef STAND_IN_PROTOCOL_H
#define STAND_IN_PROTOCOL_H

#include <stddef.h>
#include <stdint.h>

/* The kernel service and its file, which the install program copies nowhere:
 * the service names the file where the build left it. */
#define STAND_IN_SERVICE "CardReaderStandIn"
#define STAND_IN_DRIVER_FILE "card_reader_stand_in.sys"

/* The controller as the device-setup calls list it: a registry-only PCI
 * device with the maker's description and a storage-port interface whose
 * path the driver links to its controller device. */
#define STAND_IN_INSTANCE_ID "PCI\\VEN_1B2C&DEV_0B21&SUBSYS_10001B2C&REV_01\\4&1f0e2d3c&0&00E3"
#define STAND_IN_DEVICE_KEY "System\\CurrentControlSet\\Enum\\PCI\\VEN_1B2C&DEV_0B21&SUBSYS_10001B2C&REV_01"
#define STAND_IN_STORAGE_PORT_GUID "{2accfe60-c130-11d2-b082-00a0c91efb8b}"
#define STAND_IN_INTERFACE_NAME                                                                                        \
    "PCI#VEN_1B2C&DEV_0B21&SUBSYS_10001B2C&REV_01#4&1f0e2d3c&0&00E3#" STAND_IN_STORAGE_PORT_GUID
#define STAND_IN_INTERFACE_PATH "\\\\?\\" STAND_IN_INTERFACE_NAME
#define STAND_IN_INTERFACE_CLASS_KEY "System\\CurrentControlSet\\Control\\DeviceClasses\\" STAND_IN_STORAGE_PORT_GUID
#define STAND_IN_INTERFACE_KEY STAND_IN_INTERFACE_CLASS_KEY "\\##?#" STAND_IN_INTERFACE_NAME
#define STAND_IN_DESCRIPTION "Halvex Integrated MMC/SD controller"
#define STAND_IN_SCSI_ADAPTER_CLASS "{4d36e97b-e325-11ce-bfc1-08002be10318}"

/* The card's drive letter, E, drive number 5. */
#define STAND_IN_DRIVE_LETTER 'E'
#define STAND_IN_DRIVE_NUMBER 5
#define STAND_IN_DRIVE_PATH "\\\\.\\E:"

/* The control device, for the tests only. */
#define STAND_IN_CONTROL_PATH "\\\\.\\CardReaderStandInControl"

/* The control requests: buffered, any access. */
#define STAND_IN_CONTROL_CODE(function) (0x80000000u | ((uint32_t)(function) << 2))
#define STAND_IN_RESET STAND_IN_CONTROL_CODE(0x800)       /* back to the default card, no rules, empty log */
#define STAND_IN_SET_CARD STAND_IN_CONTROL_CODE(0x801)    /* in: StandInCard */
#define STAND_IN_SET_RULE STAND_IN_CONTROL_CODE(0x802)    /* in: StandInRule */
#define STAND_IN_CLEAR_RULES STAND_IN_CONTROL_CODE(0x803) /* every request answered as usual again */
#define STAND_IN_CLEAR_LOG STAND_IN_CONTROL_CODE(0x804)
#define STAND_IN_READ_LOG STAND_IN_CONTROL_CODE(0x805)   /* in: uint32_t first; out: StandInLogHeader, records */
#define STAND_IN_READ_STATE STAND_IN_CONTROL_CODE(0x806) /* out: StandInState */

/* The card in the reader, and the drive the system makes of it. */
typedef struct StandInCard {
    uint32_t present;            /* 0: the reader is empty */
    uint32_t writeProtectAnswer; /* the answer to 0xA0000038; 1 is write-protected */
    uint32_t highCapacityAnswer; /* the answer to 0xA0000068; 1 is high capacity */
    uint32_t lastBlockAddress;   /* READ CAPACITY(10) */
    uint32_t cylinders;          /* the drive's geometry */
    uint32_t tracksPerCylinder;
    uint32_t sectorsPerTrack;
    uint32_t bytesPerSector;
    uint8_t csd[16]; /* byte 0 holds register bits 127..120 */
    uint8_t mediaId[8];
    uint8_t challenge[8]; /* the card's own challenge */
    uint8_t response[8];  /* the card's response */
    char vendor[12];      /* the storage descriptor's strings, zero-padded */
    char product[20];
} StandInCard;

/* How the driver answers one code: a miniport command code (0xA00000xx) or a
 * drive request's control code (IOCTL_SCSI_PASS_THROUGH, ...). */
enum StandInReply {
    STAND_IN_FAILS = 1,              /* completed with `status`: DeviceIoControl fails, nothing comes back */
    STAND_IN_LEAVES_PAYLOAD = 2,     /* completed with success, the buffer untouched */
    STAND_IN_NONZERO_RETURN_CODE = 3 /* answered as usual, with ReturnCode 1 */
};
typedef struct StandInRule {
    uint32_t code;
    uint32_t reply;  /* enum StandInReply */
    uint32_t times;  /* how many requests answer so; 0: every one */
    uint32_t skip;   /* requests answered as usual before those */
    uint32_t status; /* the NTSTATUS a failure completes with; 0: STATUS_IO_DEVICE_ERROR */
} StandInRule;

/* Which device a request reached. */
enum { STAND_IN_CONTROLLER = 1, STAND_IN_DISK = 2 };
/* The requests logged, by their major function. */
enum { STAND_IN_OPEN = 0x00, STAND_IN_CLOSE = 0x02, STAND_IN_FS_CONTROL = 0x0D, STAND_IN_DEVICE_CONTROL = 0x0E };

/* One request as the driver received it. */
typedef struct StandInRecord {
    uint32_t sequence; /* 1, 2, ... since the log was last cleared */
    uint32_t device;   /* STAND_IN_CONTROLLER or STAND_IN_DISK */
    uint32_t major;    /* STAND_IN_OPEN, ... */
    uint32_t code;     /* the control code */
    uint32_t inSize;
    uint32_t outSize;
    uint32_t status;      /* the NTSTATUS it was completed with */
    uint32_t returned;    /* the bytes it answered */
    uint32_t layout;      /* pass-through requests: the Length that told the layout (44 or 56) */
    uint32_t dataLength;  /* direct pass-through: bytes of the caller's data read where they lie */
    uint64_t dataAddress; /* direct pass-through: the caller's DataBuffer pointer */
    uint64_t inHash;      /* over all inSize bytes of input, standInHash */
    uint64_t dataHash;    /* over the dataLength bytes of the caller's data */
    uint8_t in[128];      /* the first input bytes */
    uint8_t data[64];     /* the first bytes of the caller's data */
} StandInRecord;

typedef struct StandInLogHeader {
    uint32_t total;    /* records since the log was last cleared */
    uint32_t first;    /* the index of the first record that follows */
    uint32_t count;    /* records that follow */
    uint32_t capacity; /* the most the log holds; beyond, requests go unrecorded */
} StandInLogHeader;

/* What the host left with the card. */
typedef struct StandInState {
    uint8_t hostChallenge[8];
    uint8_t hostResponse[8];
    uint32_t changeSaCount;
    uint32_t secureBytes; /* how far secure writes have filled the secure area */
    uint64_t secureHash;  /* over those bytes */
    uint32_t opens[2];    /* creates on the controller and on the disk */
    uint32_t closes[2];
} StandInState;

#define STAND_IN_ASSERT_SIZE(type, size) typedef char type##_has_its_size[sizeof(type) == (size) ? 1 : -1]
STAND_IN_ASSERT_SIZE(StandInCard, 104);
STAND_IN_ASSERT_SIZE(StandInRule, 20);
STAND_IN_ASSERT_SIZE(StandInRecord, 256);
STAND_IN_ASSERT_SIZE(StandInLogHeader, 16);
STAND_IN_ASSERT_SIZE(StandInState, 48);

/* FNV-1a, 64-bit: start with STAND_IN_HASH_SEED. */
#define STAND_IN_HASH_SEED 0xcbf29ce484222325ull
static inline uint64_t standInHash(uint64_t hash, const void* bytes, size_t length) {
    const uint8_t* p = (const uint8_t*)bytes;
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ p[i]) * 0x100000001b3ull;
    return hash;
}

/* The media key block and the protected area hold these bytes (as the
 * simulated machine's card does). */
static inline uint8_t standInMkbByte(uint8_t selector, uint16_t block, unsigned offset) {
    return (uint8_t)((block * 131u + selector * 17u + offset * 7u + (offset >> 8)) ^ 0x5A);
}
static inline uint8_t standInProtectedByte(uint32_t block, unsigned offset) {
    return (uint8_t)((block * 29u) ^ (block >> 8) ^ (block >> 24) ^ (offset * 3u + 1));
}

/* The card a reset puts in: the simulated machine's default card, a standard
 * capacity card of about 1 GB (CSD 1.0: READ_BL_LEN 9, C_SIZE 3859,
 * C_SIZE_MULT 7, SECTOR_SIZE 127), on a drive of 1,984,512 sectors that the
 * system describes as 123 cylinders of 255 tracks of 63 sectors. */
static inline void standInDefaultCard(StandInCard* card) {
    static const uint8_t csd[16] = {0x00, 0x26, 0x00, 0x32, 0x5F, 0x59, 0x83, 0xC4,
                                    0xF6, 0xDB, 0xBF, 0xEF, 0x92, 0x40, 0x40, 0x19};
    static const uint8_t mediaId[8] = {0x4D, 0x49, 0x44, 0x30, 0x31, 0x32, 0x33, 0x34};
    static const uint8_t challenge[8] = {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8};
    static const uint8_t response[8] = {0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58};
    static const char vendor[] = "Halvex  ";
    static const char product[] = "SD/MMC Reader   ";
    uint8_t* raw = (uint8_t*)card;
    for (size_t i = 0; i < sizeof *card; ++i)
        raw[i] = 0;
    card->present = 1;
    card->lastBlockAddress = 1984511;
    card->cylinders = 123;
    card->tracksPerCylinder = 255;
    card->sectorsPerTrack = 63;
    card->bytesPerSector = 512;
    for (size_t i = 0; i < 16; ++i)
        card->csd[i] = csd[i];
    for (size_t i = 0; i < 8; ++i) {
        card->mediaId[i] = mediaId[i];
        card->challenge[i] = challenge[i];
        card->response[i] = response[i];
    }
    for (size_t i = 0; i < sizeof vendor; ++i)
        card->vendor[i] = vendor[i];
    for (size_t i = 0; i < sizeof product; ++i)
        card->product[i] = product[i];
}

#endif /* STAND_IN_PROTOCOL_H */
