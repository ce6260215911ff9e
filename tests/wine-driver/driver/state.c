/* What the stand-in keeps: the card, the test's rules, the request log. */
#include "stand_in.h"

StandIn gStandIn;

void standInReset(StandIn* s) {
    standInDefaultCard(&s->card);
    s->ruleCount = 0;
    RtlZeroMemory(&s->state, sizeof s->state);
    s->addressSet = 0;
    s->logTotal = 0;
}

int standInTakeRule(StandIn* s, uint32_t code, StandInRule* rule) {
    for (uint32_t i = 0; i < s->ruleCount; ++i) {
        StandInRule* r = &s->rules[i];
        if (r->code != code)
            continue;
        if (r->skip) {
            --r->skip;
            return 0;
        }
        *rule = *r;
        /* A rule for n requests goes once they have had it. */
        if (r->times && --r->times == 0)
            s->rules[i] = s->rules[--s->ruleCount];
        return 1;
    }
    return 0;
}

StandInRecord* standInLogRequest(StandIn* s, uint32_t device, uint32_t major, uint32_t code, const void* input,
                                 uint32_t inSize, uint32_t outSize) {
    if (s->logTotal >= STAND_IN_LOG_CAPACITY)
        return NULL;
    StandInRecord* r = &s->log[s->logTotal++];
    RtlZeroMemory(r, sizeof *r);
    r->sequence = s->logTotal;
    r->device = device;
    r->major = major;
    r->code = code;
    r->inSize = inSize;
    r->outSize = outSize;
    r->inHash = STAND_IN_HASH_SEED;
    if (input && inSize) {
        RtlCopyMemory(r->in, input, inSize < sizeof r->in ? inSize : sizeof r->in);
        r->inHash = standInHash(r->inHash, input, inSize);
    }
    return r;
}
