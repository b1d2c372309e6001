// Deployment note prompt of the record editor.
#include "operator/config.h"

#include "serial/user_io.h"
#include "records/system_data.h"

#include <cstdio>

namespace {

constexpr int NOTE_INPUT_SIZE = 76;

} // namespace

int enter_deployment_note(int timeout)
{
    std::snprintf(sys_data.deploy_note, sizeof sys_data.deploy_note, " ");
    uprintf("\r\nEnter Deployment Note [ ]: ");
    char note[NOTE_INPUT_SIZE] = " ";
    int n = getUserInputTimeLimit(note, sizeof note, timeout);
    if (n != 0) {
        std::snprintf(sys_data.deploy_note, sizeof sys_data.deploy_note, "%s", note);
        uprintf("\r\n%s\r\n", note);
    }
    return 1;
}
