// KRVO Log Viewer: the desktop window.
#include "app/window/FrmInfo.h"
#include "app/window/KrvoApplication.h"
#include "app/window/Unit1.h"

int main(int argc, char** argv) {
  KrvoApplication app(argc, argv);
  TForm1 form;
  TInfoForm info;
  InfoForm = &info;
  form.show();
  const int rc = app.exec();
  InfoForm = nullptr;
  return rc;
}
