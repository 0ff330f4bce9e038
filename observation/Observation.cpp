#include "observation/Observation.h"

namespace recording {

std::string_view SourceName(AccessSource source) {
  switch (source) {
    case AccessSource::kScanTick: return "scan tick";
    case AccessSource::kSingleRead: return "single read";
    case AccessSource::kWrite: return "write";
    case AccessSource::kVerifyReadBack: return "verify read-back";
    case AccessSource::kSpin: return "spin";
    case AccessSource::kBurn: return "burn";
    case AccessSource::kKorvoctl: return "korvoctl";
  }
  return "";
}

std::string_view KindName(AccessKind kind) { return kind == AccessKind::kRead ? "read" : "write"; }

}  // namespace recording
