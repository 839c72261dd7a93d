#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

// Start-up time of Revisor, from starting the process to the tool window shown
// and the event loop running, without an office. Runs the program ten times
// on $DISPLAY when there is one (else offscreen) and prints the figures.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QUILLET_REVISOR);
    const int runs = 10;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("QT_LOGGING_RULES", "quillet.startup.debug=true");
        env.insert("QUILLET_SERVICE_URL", "http://127.0.0.1:9/");
        if (!env.contains("DISPLAY"))
            env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer timer;
        timer.start();
        process.start(program, QStringList());
        bool shown = false;
        while (!shown && process.waitForReadyRead(10000)) {
            while (process.canReadLine()) {
                if (process.readLine().contains("tool window shown"))
                    shown = true;
            }
        }
        const double ms = timer.nsecsElapsed() / 1e6;
        process.terminate();
        process.waitForFinished(5000);
        if (!shown) {
            std::fprintf(stderr, "run %d: the tool window was not reported shown\n", i + 1);
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("start-up to tool window shown (%s, %d runs): median %.1f ms, best %.1f ms, worst %.1f ms\n",
                qEnvironmentVariableIsSet("DISPLAY") ? "X display" : "offscreen", runs, times[runs / 2], times.front(),
                times.back());
    return 0;
}
