#include "dialogs/tool_dialog_window.h"

#include <QDialog>

void SetUpToolDialogWindow(QDialog* dialog)
{
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    // Window modality first: turning modal on afterwards keeps it window-modal.
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setModal(true);
    dialog->setFixedSize(dialog->size());
}
