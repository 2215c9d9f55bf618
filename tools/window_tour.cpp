// Drives the main window through a folder of frames, for screenshots and a quick look
// at a real display (e.g. under xvfb-run):
//   tessel-window-tour FOLDER [STOP_FRAME] [HOLD_SECONDS] [STRIP_OFFSET] [crossing] [distribution]
// Answers the folder chooser with FOLDER, steps through every frame with "Next Image",
// tries the grid sizes, the grid switch and the natural-size toggle on the way, then
// goes to STOP_FRAME (1-based, default 1) and keeps the window open for HOLD_SECONDS
// (default 5). With STRIP_OFFSET it first runs "Calculate FoI" to its end and scrolls
// the strip to that offset ("crossing": in the mode "Counting > Counting line", whose strip
// is the mosaic of the bands); "distribution" then opens "Results > Size distribution"
// beside the window. Each step prints the frame number, the status
// text and the counters. The tour starts from the default settings and remembers none.

#include "app/mivo_particle_stream_analysis.h"
#include "app/tessel_application.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStringList>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <functional>
#include <vector>

namespace {

template <class T> T* Child(QObject* window, const char* name)
{
    return window->findChild<T*>(QString::fromLatin1(name));
}

void AnswerFolderChooser(const QString& folder)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, folder] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* chooser = qobject_cast<QFileDialog*>(top);
            if (chooser && chooser->isVisible()) {
                chooser->setDirectory(folder);
                static_cast<QDialog*>(chooser)->accept();
                poll->deleteLater();
                return;
            }
        }
    });
    poll->start(50);
}

void DoubleClick(QWidget* widget)
{
    const QPointF centre(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent event(QEvent::MouseButtonDblClick, centre, widget->mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

int main(int argc, char** argv)
{
    CTesselApplication app(argc, argv);
    // Every tour starts from the window's defaults: its settings go to a folder of its own
    // that goes with it, never to those of tessel.
    QApplication::setOrganizationName(QStringLiteral("Tessel"));
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QTextStream out(stdout);
    if (argc < 2) {
        out << "usage: tessel-window-tour FOLDER [STOP_FRAME] [HOLD_SECONDS] [STRIP_OFFSET] [crossing] "
               "[distribution]\n";
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int stopFrame = argc > 2 ? QString::fromLatin1(argv[2]).toInt() : 1;
    const int holdSeconds = argc > 3 ? QString::fromLatin1(argv[3]).toInt() : 5;
    const int stripOffset = argc > 4 ? QString::fromLatin1(argv[4]).toInt() : -1;
    QStringList words;
    for (int i = 5; i < argc; ++i)
        words << QString::fromLatin1(argv[i]);
    const bool crossing = words.contains(QLatin1String("crossing"));
    const bool distribution = words.contains(QLatin1String("distribution"));

    CMivoParticleStreamAnalysis window;
    window.move(0, 0);
    window.show();

    auto report = [&](const QString& what) {
        out << what << ": frame " << Child<QLineEdit>(&window, "tf_view_IdxInstance")->text() << " of "
            << Child<QLineEdit>(&window, "tf_video_NumImages")->text() << ", status \""
            << window.statusBar()->currentMessage() << "\", counts "
            << Child<QLineEdit>(&window, "tf_report_total")->text() << " / "
            << Child<QLineEdit>(&window, "tf_report_NGreater")->text() << " / "
            << Child<QLineEdit>(&window, "tf_report_NSmaller")->text() << "\n";
        out.flush();
    };
    auto trigger = [&](const char* action) { Child<QAction>(&window, action)->trigger(); };

    std::vector<std::function<void()>> steps;
    steps.push_back([&] {
        AnswerFolderChooser(folder);
        trigger("file_openFolderAct");
        report(QStringLiteral("opened ") + folder);
    });
    const int frames = 64;  // more than enough; "Next Image" stops at the last frame
    for (int i = 0; i < frames; ++i)
        steps.push_back([&] {
            const QString before = Child<QLineEdit>(&window, "tf_view_IdxInstance")->text();
            trigger("viewImg_nextAct");
            if (Child<QLineEdit>(&window, "tf_view_IdxInstance")->text() != before)
                report(QStringLiteral("next"));
        });
    steps.push_back([&] {
        trigger("viewImg_firstAct");
        report(QStringLiteral("first"));
    });
    for (int index : {1, 2, 0})
        steps.push_back([&, index] {
            Child<QComboBox>(&window, "cb_viewtool_sizeGrid")->setCurrentIndex(index);
            report(QStringLiteral("grid ") + Child<QComboBox>(&window, "cb_viewtool_sizeGrid")->currentText());
        });
    for (bool on : {false, true})
        steps.push_back([&, on] {
            Child<QCheckBox>(&window, "chb_video_grid")->setChecked(on);
            report(on ? QStringLiteral("grid on") : QStringLiteral("grid off"));
        });
    for (int k = 0; k < 2; ++k)
        steps.push_back([&] {
            auto* preview = Child<QLabel>(&window, "labImage");
            DoubleClick(preview);
            report(preview->hasScaledContents() ? QStringLiteral("fit to window") : QStringLiteral("natural size"));
        });
    steps.push_back([&] {
        Child<QSlider>(&window, "sld_view_FrameSlider")->setValue(stopFrame);
        report(QStringLiteral("slider"));
    });

    if (stripOffset >= 0) {
        if (crossing)
            steps.push_back([&] {
                trigger("countLineAct");
                report(QStringLiteral("counting line"));
            });
        steps.push_back([&] {
            Child<QPushButton>(&window, "btn_proc_runVR")->click();
            report(QStringLiteral("Calculate FoI"));
        });
        steps.push_back([&] {
            report(QStringLiteral("run finished"));
            Child<QSlider>(&window, "sld_vr_line")->setValue(stripOffset);
            report(QStringLiteral("strip at ") + QString::number(stripOffset));
        });
        if (distribution)
            steps.push_back([&] {
                trigger("results_sizeDistributionAct");
                report(QStringLiteral("size distribution"));
            });
    }

    auto* timer = new QTimer(&app);
    auto* stop = Child<QPushButton>(&window, "btn_proc_stopVR");
    std::size_t next = 0;
    QObject::connect(timer, &QTimer::timeout, &app, [&] {
        if (stop->isEnabled())
            return;  // a run goes on
        if (next < steps.size()) {
            steps[next++]();
            return;
        }
        timer->stop();
        QTimer::singleShot(holdSeconds * 1000, &app, &QApplication::quit);
    });
    timer->start(120);
    return app.exec();
}
