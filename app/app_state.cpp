#include "app/app_state.h"

namespace dovrane::app {

void* g_main_dialog = nullptr;
char g_checkout_name[256] = {0};
std::string g_start_folder;

}  // namespace dovrane::app
