#include "ui/startup.h"

int main(int argc, char** argv) { return plimsy::ui::runPlimsy(argc, argv); }
