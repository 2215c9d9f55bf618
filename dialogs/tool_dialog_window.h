#pragma once

class QDialog;

// The window both tool dialogs use: a title bar without close, minimise or maximise
// buttons, modal to the main window only, fixed at the size of its form.
void SetUpToolDialogWindow(QDialog* dialog);
