#include "network/smb_library.h"

#include "extlib/installation/language.h"
#include "platform/shared_library.h"

namespace dovrane::network {

namespace {

struct Loaded {
  SmbLibrary functions;
  std::string error;
  bool ok = false;
};

template <typename F>
bool Take(platform::SharedLibrary& library, const char* name, F* function) {
  *function = reinterpret_cast<F>(library.Symbol(name));
  return *function != nullptr;
}

Loaded Load() {
  Loaded loaded;
  static platform::SharedLibrary library(kSmbClientLibrary);
  if (!library.loaded()) {
    loaded.error = library.error() + " " + extlib::LanguageText(extlib::kCheckoutTexts, 13);
    return loaded;
  }
  SmbLibrary& f = loaded.functions;
  loaded.ok = Take(library, "smbc_new_context", &f.new_context) &&
              Take(library, "smbc_free_context", &f.free_context) &&
              Take(library, "smbc_init_context", &f.init_context) && Take(library, "smbc_setDebug", &f.set_debug) &&
              Take(library, "smbc_setConfiguration", &f.set_configuration) &&
              Take(library, "smbc_setTimeout", &f.set_timeout) && Take(library, "smbc_setPort", &f.set_port) &&
              Take(library, "smbc_setOptionUseKerberos", &f.set_use_kerberos) &&
              Take(library, "smbc_setOptionFallbackAfterKerberos", &f.set_fallback_after_kerberos) &&
              Take(library, "smbc_setOptionNoAutoAnonymousLogin", &f.set_no_auto_anonymous_login) &&
              Take(library, "smbc_setOptionUserData", &f.set_user_data) &&
              Take(library, "smbc_getOptionUserData", &f.get_user_data) &&
              Take(library, "smbc_setFunctionAuthDataWithContext", &f.set_auth_function) &&
              Take(library, "smbc_setOptionProtocols", &f.set_protocols) &&
              Take(library, "smbc_getFunctionOpendir", &f.get_opendir) &&
              Take(library, "smbc_getFunctionReaddir", &f.get_readdir) &&
              Take(library, "smbc_getFunctionClosedir", &f.get_closedir);
  if (!loaded.ok) loaded.error = library.error();
  return loaded;
}

}  // namespace

const SmbLibrary* LoadSmbLibrary(std::string* error) {
  static const Loaded loaded = Load();
  if (!loaded.ok && error) *error = loaded.error;
  return loaded.ok ? &loaded.functions : nullptr;
}

}  // namespace dovrane::network
