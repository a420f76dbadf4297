// The SCSI generic manager's own exports beyond the ASPI entry points
// (core/aspi_entry.h): what they do, their types and the names programs
// look them up by are the contract's (aspi_sg_report.h); this header only
// declares them with C linkage and the export attribute of this manager.
#pragma once

#include <stdint.h>

#include <type_traits>

#include "aspi_sg_report.h"

#define SG_API __attribute__((visibility("default")))

extern "C" {
SG_API uint32_t SgDiagnostics(char* text, uint32_t capacity);
SG_API uint32_t SgDeviceRecords(SgDeviceRecord* records, uint32_t capacity);
SG_API uint32_t SgSettingsProblem(char* text, uint32_t capacity);
}

static_assert(std::is_same_v<decltype(&SgDiagnostics), SgDiagnosticsFn>);
static_assert(std::is_same_v<decltype(&SgDeviceRecords), SgDeviceRecordsFn>);
static_assert(std::is_same_v<decltype(&SgSettingsProblem), SgSettingsProblemFn>);
