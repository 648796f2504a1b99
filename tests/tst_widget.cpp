#include "devicecolumns.h"
#include "widgetinspector.h"

#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

// The window shell: size, form, initial state, and the rows of the device table.
class tst_Widget : public QObject
{
    Q_OBJECT

private slots:
    void fixedSize();
    void titleAndTexts();
    void initialState();
    void headers_data();
    void headers();
    void rowsNewestOnTop();
    void boardComboBox();
    void duplicateIpAddsNothing();
    void hostNameEqualToIpStillGetsRow();
    void lockingLeavesOnlyNameEditable_data();
    void lockingLeavesOnlyNameEditable();
    void progressTextSurvivesLocking();
    void sharedStyleSheet();
    void boardNameReadable();
    void burstOfRowsPlacesWidgets();
};

void tst_Widget::fixedSize()
{
    Widget w;
    w.show();
    QCOMPARE(w.size(), QSize(1078, 490));
    QCOMPARE(w.minimumSize(), QSize(1078, 490));
    QCOMPARE(w.maximumSize(), QSize(1078, 490));
    w.resize(1200, 600);
    QCOMPARE(w.size(), QSize(1078, 490));
}

void tst_Widget::titleAndTexts()
{
    Widget w;
    WidgetInspector in{w};
    QCOMPARE(w.windowTitle(), QStringLiteral("Quarnel-MT7681 Wireless Rodovadi V1.1 "));
    QCOMPARE(in.ui()->radioButton_2->text(), QStringLiteral("Use Default file"));
    QCOMPARE(in.ui()->radioButton->text(), QStringLiteral("Manual Assign File"));
    QCOMPARE(in.ui()->pushButton_4->text(), QStringLiteral("Open File"));
    QCOMPARE(in.ui()->label->text(), QStringLiteral("Current Use File:"));
    QCOMPARE(in.ui()->label_3->text(), QStringLiteral("Generate time:"));
    QCOMPARE(in.ui()->label_2->text(), QStringLiteral("0:0:0"));
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("Online Count\xEF\xBC\x9A" "0"));
    QCOMPARE(w.font().family(), QStringLiteral("Agency FB"));
    QCOMPARE(w.font().pointSize(), 14);
    QVERIFY(w.font().bold());
}

void tst_Widget::initialState()
{
    Widget w;
    WidgetInspector in{w};
    QVERIFY(in.ui()->radioButton_2->isChecked());
    QVERIFY(!in.ui()->radioButton->isChecked());
    QVERIFY(!in.ui()->pushButton_4->isEnabled());
    QVERIFY(in.ui()->lineEdit->isReadOnly());
    QVERIFY(in.ui()->lineEdit_2->isReadOnly());
    QVERIFY(in.ui()->lineEdit_3->isReadOnly());
    QCOMPARE(in.ui()->lineEdit_2->size(), QSize(533, 23));
    QCOMPARE(in.ui()->lineEdit_3->size(), QSize(140, 23));
    QVERIFY(in.ui()->lineEdit_2->text().isEmpty());
    QVERIFY(in.ui()->lineEdit_3->text().isEmpty());
    QVERIFY(in.table()->verticalHeader()->isHidden());
    QCOMPARE(in.table()->rowCount(), 0);
    QCOMPARE(in.table()->columnCount(), 7);
    QVERIFY(!in.table()->showGrid());
    QCOMPARE(in.table()->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(in.table()->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(in.table()->autoScrollMargin(), 16);
    QCOMPARE(in.table()->horizontalHeader()->defaultSectionSize(), 150);
    QCOMPARE(in.table()->font().pointSize(), 12);
    QVERIFY(in.timer()->isActive());
    QCOMPARE(in.timer()->interval(), 2000);
    QCOMPARE(in.udpSocket()->localPort(), quint16(3333));
    QVERIFY(!in.addingRow());
    QVERIFY(in.presence().counts().isEmpty()); // the source's start: tst_firmwaresource
}

void tst_Widget::headers_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("pointSize");
    QTest::newRow("name") << 0 << "Name" << -1;
    QTest::newRow("device") << 1 << "Device" << 9;
    QTest::newRow("ip") << 2 << "IP" << 9;
    QTest::newRow("data port") << 3 << "Port_Data" << 9;
    QTest::newRow("at port") << 4 << "Port_At" << -1;
    QTest::newRow("send") << 5 << "Send" << -1;
    QTest::newRow("progress") << 6 << "Progress" << -1;
}

void tst_Widget::headers()
{
    QFETCH(int, column);
    QFETCH(QString, text);
    QFETCH(int, pointSize);
    Widget w;
    WidgetInspector in{w};
    const QTableWidgetItem *header = in.table()->horizontalHeaderItem(column);
    QVERIFY(header);
    QCOMPARE(header->text(), text);
    QCOMPARE(header->textAlignment(), int(Qt::AlignCenter));
    QCOMPARE(header->font().family(), QString::fromUtf8("微软雅黑"));
    QVERIFY(header->font().bold());
    if (pointSize > 0)
        QCOMPARE(header->font().pointSize(), pointSize);
}

void tst_Widget::rowsNewestOnTop()
{
    Widget w;
    WidgetInspector in{w};
    in.addDeviceRow("127.0.0.2", "8000", "8001", "first");
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("Online Count\xEF\xBC\x9A" "1"));
    in.addDeviceRow("127.0.0.3", "9000", "9001", "second");
    in.addDeviceRow("127.0.0.4", "7000", "7001", "third");
    QCOMPARE(in.table()->rowCount(), 3);
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("Online Count\xEF\xBC\x9A" "3"));
    const QStringList names{"third", "second", "first"};
    const QStringList ips{"127.0.0.4", "127.0.0.3", "127.0.0.2"};
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(in.table()->item(row, discovery::ColumnName)->text(), names[row]);
        QCOMPARE(in.table()->item(row, discovery::ColumnIp)->text(), ips[row]);
        for (int column : {0, 2, 3, 4})
            QCOMPARE(in.table()->item(row, column)->textAlignment(), int(Qt::AlignHCenter));
        auto *button = qobject_cast<QPushButton *>(in.table()->cellWidget(row, discovery::ColumnSend));
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("Upload"));
        QVERIFY(button->isEnabled());
    }
    QCOMPARE(in.table()->item(0, discovery::ColumnDataPort)->text(), QStringLiteral("7000"));
    QCOMPARE(in.table()->item(0, discovery::ColumnAtPort)->text(), QStringLiteral("7001"));
}

void tst_Widget::boardComboBox()
{
    Widget w;
    WidgetInspector in{w};
    in.addDeviceRow("127.0.0.2", "8000", "8001", "m");
    auto *box = qobject_cast<QComboBox *>(in.table()->cellWidget(0, discovery::ColumnDevice));
    QVERIFY(box);
    QCOMPARE(box->count(), 4);
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(box->currentText(), QStringLiteral("MEGA2560"));
    const QStringList expected{"MEGA2560", "UNO", "zariV3", "zureD0"};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(box->itemText(i), expected[i]);
}

void tst_Widget::duplicateIpAddsNothing()
{
    Widget w;
    WidgetInspector in{w};
    in.addDeviceRow("127.0.0.2", "8000", "8001", "before");
    in.addDeviceRow("127.0.0.2", "9000", "9001", "after");
    QCOMPARE(in.table()->rowCount(), 1);
    QCOMPARE(in.table()->item(0, discovery::ColumnName)->text(), QStringLiteral("before"));
    QCOMPARE(in.table()->item(0, discovery::ColumnDataPort)->text(), QStringLiteral("8000"));
}

void tst_Widget::hostNameEqualToIpStillGetsRow()
{
    // A module named like another module's IP must not hide that module.
    Widget w;
    WidgetInspector in{w};
    in.addDeviceRow("127.0.0.2", "8000", "8001", "127.0.0.3");
    in.addDeviceRow("127.0.0.3", "8000", "8001", "real");
    QCOMPARE(in.table()->rowCount(), 2);
    QCOMPARE(in.table()->item(0, discovery::ColumnIp)->text(), QStringLiteral("127.0.0.3"));
}

void tst_Widget::lockingLeavesOnlyNameEditable_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("editable");
    QTest::newRow("name") << 0 << true;
    for (int column = 1; column < 7; ++column)
        QTest::newRow(qPrintable(QString("column %1").arg(column))) << column << false;
}

void tst_Widget::lockingLeavesOnlyNameEditable()
{
    QFETCH(int, column);
    QFETCH(bool, editable);
    Widget w;
    WidgetInspector in{w};
    w.show();
    in.addDeviceRow("127.0.0.2", "8000", "8001", "m");
    in.lockNonNameCells();
    QTableWidgetItem *item = in.table()->item(0, column);
    QVERIFY(item);
    QCOMPARE(bool(item->flags() & Qt::ItemIsEditable), editable);

    // What the user sees: an editor opens on the Name cell only.
    in.table()->editItem(item);
    QCOMPARE(!in.table()->viewport()->findChildren<QLineEdit *>(QString(), Qt::FindDirectChildrenOnly).isEmpty(), editable);
}

void tst_Widget::progressTextSurvivesLocking()
{
    Widget w;
    WidgetInspector in{w};
    in.addDeviceRow("127.0.0.2", "8000", "8001", "m");
    in.lockNonNameCells();
    auto *progress = new QTableWidgetItem(QStringLiteral("Successful"));
    in.table()->setItem(0, discovery::ColumnProgress, progress);
    QVERIFY(progress->flags() & Qt::ItemIsEditable);
    in.addDeviceRow("127.0.0.3", "8000", "8001", "n");
    in.lockNonNameCells();
    QTableWidgetItem *after = in.table()->item(1, discovery::ColumnProgress);
    QCOMPARE(after, progress);
    QCOMPARE(after->text(), QStringLiteral("Successful"));
    QVERIFY(!(after->flags() & Qt::ItemIsEditable));
}

void tst_Widget::sharedStyleSheet()
{
    Widget w;
    WidgetInspector in{w};
    in.addDeviceRow("127.0.0.2", "8000", "8001", "m");
    auto *button = qobject_cast<QPushButton *>(in.table()->cellWidget(0, discovery::ColumnSend));
    QVERIFY(button);
    QCOMPARE(button->styleSheet(), in.ui()->pushButton_4->styleSheet());
    QVERIFY(button->styleSheet().startsWith("QPushButton:hover{"));
    QVERIFY(button->styleSheet().contains("QPushButton:pressed{background-color:yellow;"));
}

// The board box is transparent; it must still show its board name, not a filled block.
void tst_Widget::boardNameReadable()
{
    Widget w;
    WidgetInspector in{w};
    in.addDeviceRow("127.0.0.2", "8000", "8001", "m");
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *box = qobject_cast<QComboBox *>(in.table()->cellWidget(0, discovery::ColumnDevice));
    const QImage image = in.table()->viewport()->grab(box->geometry()).toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 64;
    }
    const int pixels = image.width() * image.height();
    QVERIFY2(dark * 4 < pixels, qPrintable(QString("%1 of %2 pixels dark").arg(dark).arg(pixels)));
    QVERIFY(dark > 0); // the text itself
}

// After a burst of new rows, each row's board box and button sit in their own cells.
void tst_Widget::burstOfRowsPlacesWidgets()
{
    Widget w;
    WidgetInspector in{w};
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (int i = 0; i < 12; ++i)
        in.addDeviceRow(QStringLiteral("127.0.0.%1").arg(i + 2), "8000", "8001", "m");
    QTRY_COMPARE(in.table()->cellWidget(11, discovery::ColumnSend)->geometry(),
                 in.table()->visualRect(in.table()->model()->index(11, discovery::ColumnSend)));
    for (int row = 0; row < 12; ++row) {
        for (int column : {int(discovery::ColumnDevice), int(discovery::ColumnSend)}) {
            const QModelIndex index = in.table()->model()->index(row, column);
            QCOMPARE(in.table()->cellWidget(row, column)->geometry(), in.table()->visualRect(index));
        }
    }
}

QTEST_MAIN(tst_Widget)
#include "tst_widget.moc"
