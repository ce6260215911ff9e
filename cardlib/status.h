// The status codes the exports answer, typed for the library's own use; the
// public header names the same values for applications.
#pragma once

#include "Ferrocard.h"

namespace ferrocard {

constexpr uint32_t kOk = FERROCARD_OK;
constexpr uint32_t kNoCardDrive = FERROCARD_E_NO_CARD_DRIVE;
constexpr uint32_t kWriteProtected = FERROCARD_E_WRITE_PROTECTED;
constexpr uint32_t kBadDrive = FERROCARD_E_BAD_DRIVE;
constexpr uint32_t kCommandFailed = FERROCARD_E_COMMAND_FAILED;
constexpr uint32_t kNoController = FERROCARD_E_NO_CONTROLLER;

} // namespace ferrocard
