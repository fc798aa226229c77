#include "network/network_enumerator.h"

#include <cerrno>

#include "extlib/installation/language.h"

namespace dovrane::network {

std::string NetErrorText(NetError error) {
  switch (error) {
    case NetError::kNone:
      return "";
    case NetError::kNoMasterBrowser:
      return extlib::LanguageText(extlib::kNetErrorTexts, 1);
    case NetError::kNameUnknown:
      return extlib::LanguageText(extlib::kNetErrorTexts, 2);
    case NetError::kNotReachable:
      return extlib::LanguageText(extlib::kNetErrorTexts, 3);
    case NetError::kSmb1Refused:
      return extlib::LanguageText(extlib::kNetErrorTexts, 4);
    case NetError::kAccessDenied:
      return extlib::LanguageText(extlib::kNetErrorTexts, 5);
    case NetError::kNotFound:
      return extlib::LanguageText(extlib::kNetErrorTexts, 6);
    case NetError::kFailed:
      break;
  }
  return extlib::LanguageText(extlib::kNetErrorTexts, 7);
}

NetError NetErrorFromErrno(int error, bool browse) {
  if (error < 0) error = -error;
  switch (error) {
    case 0:
      return NetError::kNone;
    case EACCES:
    case EPERM:
      return NetError::kAccessDenied;
    case ENOENT:
    case ENODEV:
      return browse ? NetError::kNoMasterBrowser : NetError::kNotFound;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ECONNREFUSED:
      return NetError::kNotReachable;
    case ECONNRESET:
    case EPROTONOSUPPORT:
    case ECONNABORTED:
      return browse ? NetError::kSmb1Refused : NetError::kNotReachable;
    case EINVAL:
      return NetError::kNameUnknown;
    default:
      return NetError::kFailed;
  }
}

bool SplitUncPath(const std::string& unc_path, std::string* host, std::string* rest) {
  if (unc_path.size() < 3 || unc_path.compare(0, 2, "\\\\") != 0) return false;
  const size_t cut = unc_path.find('\\', 2);
  *host = unc_path.substr(2, cut == std::string::npos ? std::string::npos : cut - 2);
  *rest = cut == std::string::npos ? "" : unc_path.substr(cut + 1);
  while (!rest->empty() && rest->back() == '\\') rest->pop_back();
  if (host->empty()) return false;
  const std::string all = rest->empty() ? *host : *host + "\\" + *rest;
  size_t start = 0;
  for (;;) {
    const size_t end = all.find('\\', start);
    const std::string part = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos) return false;
    for (unsigned char c : part)
      if (c < 32) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

}  // namespace dovrane::network
