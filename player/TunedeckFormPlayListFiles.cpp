#include "TunedeckFormUnit.h"

// FIXME: loading and saving play-list files joins here; until then both commands do nothing.
void TTunedeckform::OpenPlayList1Click()
{
}

void TTunedeckform::SavePlayList1Click()
{
}
