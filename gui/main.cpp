#include "gui/calvix_app.h"

int main(int argc, char** argv) {
    calvix::CalvixApplication app(argc, argv);
    calvix::ApplyCalvixLook(app);
    return calvix::RunCalvix(app);
}
