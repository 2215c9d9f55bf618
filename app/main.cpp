#include "app/mivo_particle_stream_analysis.h"
#include "app/tessel_application.h"

int main(int argc, char** argv)
{
    CTesselApplication app(argc, argv);
    // Where the remembered settings live (QSettings).
    QApplication::setOrganizationName(QStringLiteral("Tessel"));
    QApplication::setApplicationName(QStringLiteral("tessel"));
    QApplication::setApplicationVersion(QStringLiteral(TESSEL_VERSION));
    CMivoParticleStreamAnalysis window;
    window.move(0, 0);
    window.show();
    return app.exec();
}
