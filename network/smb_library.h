// libsmbclient, loaded the first time the network is browsed: a command-line
// run never loads Samba's hundred libraries. The functions the enumerator
// uses, taken from the loaded library.
#pragma once

#include <libsmbclient.h>

#include <string>

namespace dovrane::network {

inline constexpr char kSmbClientLibrary[] = "libsmbclient.so.0";

struct SmbLibrary {
  decltype(&smbc_new_context) new_context = nullptr;
  decltype(&smbc_free_context) free_context = nullptr;
  decltype(&smbc_init_context) init_context = nullptr;
  decltype(&smbc_setDebug) set_debug = nullptr;
  decltype(&smbc_setConfiguration) set_configuration = nullptr;
  decltype(&smbc_setTimeout) set_timeout = nullptr;
  decltype(&smbc_setPort) set_port = nullptr;
  decltype(&smbc_setOptionUseKerberos) set_use_kerberos = nullptr;
  decltype(&smbc_setOptionFallbackAfterKerberos) set_fallback_after_kerberos = nullptr;
  decltype(&smbc_setOptionNoAutoAnonymousLogin) set_no_auto_anonymous_login = nullptr;
  decltype(&smbc_setOptionUserData) set_user_data = nullptr;
  decltype(&smbc_getOptionUserData) get_user_data = nullptr;
  decltype(&smbc_setFunctionAuthDataWithContext) set_auth_function = nullptr;
  decltype(&smbc_setOptionProtocols) set_protocols = nullptr;
  decltype(&smbc_getFunctionOpendir) get_opendir = nullptr;
  decltype(&smbc_getFunctionReaddir) get_readdir = nullptr;
  decltype(&smbc_getFunctionClosedir) get_closedir = nullptr;
};

// The library, loaded once per process (thread-safe); nullptr when it is
// missing or lacks a function: *error (may be null) then says why, for the
// trace file.
const SmbLibrary* LoadSmbLibrary(std::string* error = nullptr);

}  // namespace dovrane::network
