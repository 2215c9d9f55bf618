#include "app/mivo_particle_stream_analysis.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    CMivoParticleStreamAnalysis window;
    window.move(0, 0);
    window.show();
    return app.exec();
}
