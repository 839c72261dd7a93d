#include "presentation/ContextShow.h"
#include "presentation/QtAwesome.h"
#include "ui_ContextShow.h"
#include "utility/TextUtil.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QTranslator>

namespace {

const int kTimes = 0xf00d;
const int kArrowCircleORight = 0xf18e;
const int kArrowCircleOLeft = 0xf190;
const int kThumbsODown = 0xf088;

// Bounds of the popup's width and height.
const int kMinSide = 100;
const int kMaxSide = 350;

} // namespace

ContextShow::ContextShow(QWidget* parent)
    : QFramelessWindow(parent)
    , ui(new Ui::ContextShow)
{
    ui->setupUi(this);
    setWindowFlags(Qt::SubWindow | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The popup's own size bounds, so that the layout does not hold it wider
    // than the list asks for.
    setMinimumSize(kMinSide, kMinSide);

    const IconOptions options = makeIconOptions(QColor(100, 100, 100));

    auto* menu = new QMenu(tr("Ignore"), this);
    menu->addAction(ui->actionIgnoreOnce);
    menu->addAction(ui->actionIgnoreAll);
    menu->addSeparator();
    menu->addAction(ui->actionReportError);
    ui->btnIgnoreOnce->setMenu(menu);

    if (QtAwesome* awesome = getAwesome()) {
        ui->btnHide->setIcon(awesome->iconFor(kTimes, options));
        ui->btnNext->setIcon(awesome->iconFor(kArrowCircleORight, options));
        ui->btnPrev->setIcon(awesome->iconFor(kArrowCircleOLeft, options));
        ui->btnIgnoreOnce->setIcon(awesome->iconFor(kThumbsODown, options));
    }
}

ContextShow::~ContextShow()
{
    delete ui;
}

bool ContextShow::showCheckData(CHECK_DATAS& checkDatas, QString& text)
{
    ui->widgetErrorList->clear();
    resize(width(), kMaxSide);

    bool added = false;
    for (size_t i = 0; i < checkDatas.size(); ++i) {
        const std::shared_ptr<CCheckData>& data = checkDatas[i];
        if (!data)
            continue;
        const QString wrongText = QString::fromStdString(data->text);
        // An empty wrong text "occurs" everywhere but marks nothing: skipped.
        if (!wrongText.isEmpty() && text.contains(wrongText, Qt::CaseSensitive)) {
            ui->widgetErrorList->addCheckData(data, static_cast<int>(i));
            added = true;
        }
    }
    ui->widgetErrorList->addStretch();

    if (!added)
        return false;
    setAllMouseTracking();
    return true;
}

void ContextShow::clear()
{
    ui->widgetErrorList->clear();
    resize(width(), kMaxSide);
}

void ContextShow::showEvent(QShowEvent* /*event*/)
{
}

void ContextShow::on_widgetErrorList_apply(QString itemTitle, int itemIndex, QString groupTitle, int groupIndex)
{
    hide();
    emit apply(itemTitle, itemIndex, groupTitle, groupIndex);
}

void ContextShow::on_btnHide_clicked()
{
    emit hideDialog();
    hide();
}

void ContextShow::on_btnNext_clicked()
{
    emit next();
    QCursor::setPos(ui->btnNext->mapToGlobal(QPoint(ui->btnNext->width() / 2, ui->btnNext->height() / 2)));
}

void ContextShow::on_btnPrev_clicked()
{
    emit prev();
    QCursor::setPos(ui->btnPrev->mapToGlobal(QPoint(ui->btnPrev->width() / 2, ui->btnPrev->height() / 2)));
}

void ContextShow::on_actionAddToDict_triggered()
{
    hide();
    emit addToDict();
}

void ContextShow::on_actionReportError_triggered()
{
    hide();
    emit reportError();
}

void ContextShow::on_actionIgnoreAll_triggered()
{
    hide();
    emit ignoreAll();
}

void ContextShow::on_actionIgnoreOnce_triggered()
{
    hide();
    emit ignoreOnce();
}

void ContextShow::on_widgetErrorList_maxHeightChanged(int maxHeight, int maxWidth)
{
    const int w = qBound(kMinSide, maxWidth + 16, kMaxSide);
    const int h = qBound(kMinSide, maxHeight + ui->widgetButtons->height() + 16, kMaxSide);
    resize(w, h);
}

void initUI()
{
    static bool done = false;
    if (done)
        return;
    done = true;

    const QString libraryDir = QString::fromStdWString(GetAppPath(reinterpret_cast<const void*>(&initUI)));
    if (!libraryDir.isEmpty())
        QCoreApplication::addLibraryPath(libraryDir);

    if (!QCoreApplication::instance()) {
        // High-DPI scaling only takes effect (and Qt only accepts the
        // attribute) before the application object exists.
        QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
        static int argc = 0;
        new QApplication(argc, nullptr);
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setStyle(QStringLiteral("fusion"));

    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QStringLiteral(":/translations/scholia_zh_CN.qm")))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

void showContextShow(QWidget* parent)
{
    initUI();
    auto* popup = new ContextShow(parent);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->show();
}
