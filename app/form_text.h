#pragma once

#include <QCoreApplication>
#include <QString>

// Visible texts of the main window pass through the translation call with the form's
// context, like the texts of the form itself.
inline QString FormText(const char* source)
{
    return QCoreApplication::translate("mivoParticleStreamAnalysis", source);
}
