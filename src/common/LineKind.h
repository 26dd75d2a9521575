// Whether a host's TCP line speaks telnet: known from the host's first IAC
// (automatic, the default), or forced by its host entry ("Line" in the host
// list: "telnet" or "raw"; absent is automatic).
#pragma once

#include <strings.h>

#include <string>

namespace brelo {

enum class ELineKind { kAuto, kTelnet, kRaw };

// "telnet" or "raw" in any case; anything else, or nothing, is automatic.
inline ELineKind ParseLineKind(const std::string& value) {
  if (strcasecmp(value.c_str(), "telnet") == 0) return ELineKind::kTelnet;
  if (strcasecmp(value.c_str(), "raw") == 0) return ELineKind::kRaw;
  return ELineKind::kAuto;
}

inline const char* LineKindName(ELineKind k) {
  switch (k) {
    case ELineKind::kTelnet: return "telnet";
    case ELineKind::kRaw: return "raw";
    default: return "auto";
  }
}

}  // namespace brelo
