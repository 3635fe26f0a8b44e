#include "Texts.h"
#include "TunedeckApplication.h"
#include "TunedeckFormUnit.h"

// The program reads no command line, no settings and no registry-like store.
int main(int argc, char **argv)
{
    TunedeckApplication application(argc, argv);
    TunedeckApplication::loadFonts();
    TunedeckApplication::setTitle(tunedeck::texts::kStartupTitle);
    TunedeckApplication::setHelpFile(tunedeck::texts::kHelpFileName);

    int result = 0;
    {
        TTunedeckform form;
        form.show();
        result = TunedeckApplication::exec();
        // Leaving this block destroys the window and its device, which closes an open file.
    }
    return result;
}
