#include "app/app_state.h"

#include "extlib/messages.h"

namespace dovrane::app {

int g_interactive = 1;
void* g_main_dialog = nullptr;
char g_checkout_name[256] = {0};
char g_caption[24] = "Varnholtek Dovranix";
std::string g_start_folder;

static_assert(sizeof(extlib::kCaption) <= sizeof(g_caption));

}  // namespace dovrane::app
