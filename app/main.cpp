// panelapp: the window. Everything it does lives in panelcore.
#include "view/startup.h"

int main(int argc, char **argv)
{
    return Startup::run(argc, argv, QStringLiteral(PANEL_GUI_SOURCE_DIR));
}
