/*
 * Ferrocard.dll as an SD application takes it: loaded from the program's own
 * folder with LoadLibraryA, every export through the public header's
 * pointer types.
 */
#ifndef FERROCARD_API_H
#define FERROCARD_API_H

#include "Ferrocard.h"

typedef struct Ferrocard {
    DDSysInit_fn DDSysInit;
    DDSysFini_fn DDSysFini;
    DDFini_fn DDFini;
    DDSysDrive_fn DDSysDrive;
    DDChkSDCard_fn DDChkSDCard;
    DDIdentify_fn DDIdentify;
    DDSecureIdentify_fn DDSecureIdentify;
    DDSecureRead_fn DDSecureRead;
    DDSecureWrite_fn DDSecureWrite;
    DDReadPT_fn DDReadPT;
    DDWritePT_fn DDWritePT;
    DDReadMKB_fn DDReadMKB;
    DDGetMID_fn DDGetMID;
    DDSetChallenge_fn DDSetChallenge;
    DDGetChallenge_fn DDGetChallenge;
    DDSetResponse_fn DDSetResponse;
    DDGetResponse_fn DDGetResponse;
    DDChangeSA_fn DDChangeSA;
} Ferrocard;

/* Loads the DLL beside the program; nonzero when every export was found. */
int ferrocardLoad(Ferrocard* dd);

/* The eleven out-values of DDIdentify. */
typedef struct Identity {
    uint32_t noSectors;
    uint32_t erasesize;
    uint16_t cylinders;
    uint16_t noHeads;
    uint16_t bytesPerSector;
    uint16_t sectorsPerTrack;
    uint8_t readBlLen;
    uint16_t Csize;
    uint8_t CsizeMult;
    uint8_t reserved1;
    uint8_t reserved2;
} Identity;

uint32_t ferrocardIdentify(const Ferrocard* dd, Identity* id);

#endif /* FERROCARD_API_H */
