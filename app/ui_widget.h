#ifndef UI_WIDGET_H
#define UI_WIDGET_H

#include <QtCore/QCoreApplication>
#include <QtCore/QVariant>
#include <QtGui/QFont>
#include <QtWidgets/QAbstractItemView>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QSpacerItem>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QWidget>

#include "devicetablewidget.h"

QT_BEGIN_NAMESPACE

// The main window's form: widget tree, fonts, texts and table properties.
class Ui_Widget
{
public:
    QVBoxLayout *verticalLayout_2;
    QHBoxLayout *horizontalLayout_2;
    QVBoxLayout *verticalLayout;
    QTableWidget *userTableWidget;
    QHBoxLayout *horizontalLayout_3;
    QRadioButton *radioButton_2;
    QLineEdit *lineEdit_2;
    QSpacerItem *horizontalSpacer;
    QLabel *userNumLabel;
    QHBoxLayout *horizontalLayout_8;
    QRadioButton *radioButton;
    QPushButton *pushButton_4;
    QLineEdit *lineEdit;
    QLabel *label;
    QLineEdit *lineEdit_3;
    QLabel *label_3;
    QLabel *label_2;

    static QFont font(const char *family, int pointSize, bool bold)
    {
        QFont f;
        if (family)
            f.setFamily(QString::fromUtf8(family));
        if (pointSize > 0)
            f.setPointSize(pointSize);
        f.setBold(bold);
        f.setWeight(bold ? 75 : 50);
        return f;
    }

    void setupUi(QWidget *Widget)
    {
        if (Widget->objectName().isEmpty())
            Widget->setObjectName(QString::fromUtf8("Widget"));
        Widget->setEnabled(true);
        Widget->resize(1079, 466);
        Widget->setFont(font("Agency FB", 14, true));

        const QFont headerFontA = font("微软雅黑", -1, true);
        const QFont headerFontB = font("微软雅黑", 9, true);
        const QFont controlFont = font("微软雅黑", 9, false);

        verticalLayout_2 = new QVBoxLayout(Widget);
        verticalLayout_2->setSpacing(6);
        verticalLayout_2->setContentsMargins(11, 11, 11, 11);
        verticalLayout_2->setObjectName(QString::fromUtf8("verticalLayout_2"));

        horizontalLayout_2 = new QHBoxLayout();
        horizontalLayout_2->setSpacing(6);
        horizontalLayout_2->setObjectName(QString::fromUtf8("horizontalLayout_2"));
        verticalLayout = new QVBoxLayout();
        verticalLayout->setSpacing(6);
        verticalLayout->setObjectName(QString::fromUtf8("verticalLayout"));
        horizontalLayout_2->addLayout(verticalLayout);

        userTableWidget = new DeviceTableWidget(Widget);
        if (userTableWidget->columnCount() < 7)
            userTableWidget->setColumnCount(7);
        for (int column = 0; column < 7; ++column) {
            auto *header = new QTableWidgetItem();
            header->setTextAlignment(Qt::AlignCenter);
            const bool fontB = column >= 1 && column <= 3;
            header->setFont(fontB ? headerFontB : headerFontA);
            userTableWidget->setHorizontalHeaderItem(column, header);
        }
        userTableWidget->setObjectName(QString::fromUtf8("userTableWidget"));
        QFont tableFont;
        tableFont.setPointSize(12);
        tableFont.setBold(true);
        tableFont.setWeight(75);
        userTableWidget->setFont(tableFont);
        userTableWidget->setAutoScrollMargin(16);
        userTableWidget->setSelectionMode(QAbstractItemView::SingleSelection);
        userTableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);
        userTableWidget->setShowGrid(false);
        userTableWidget->setColumnCount(7);
        userTableWidget->horizontalHeader()->setDefaultSectionSize(150);
        userTableWidget->horizontalHeader()->setMinimumSectionSize(27);
        horizontalLayout_2->addWidget(userTableWidget);
        verticalLayout_2->addLayout(horizontalLayout_2);

        horizontalLayout_3 = new QHBoxLayout();
        horizontalLayout_3->setSpacing(6);
        horizontalLayout_3->setObjectName(QString::fromUtf8("horizontalLayout_3"));
        radioButton_2 = new QRadioButton(Widget);
        radioButton_2->setObjectName(QString::fromUtf8("radioButton_2"));
        radioButton_2->setFont(controlFont);
        radioButton_2->setChecked(true);
        horizontalLayout_3->addWidget(radioButton_2);
        lineEdit_2 = new QLineEdit(Widget);
        lineEdit_2->setObjectName(QString::fromUtf8("lineEdit_2"));
        lineEdit_2->setEnabled(true);
        lineEdit_2->setFont(controlFont);
        horizontalLayout_3->addWidget(lineEdit_2);
        horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout_3->addItem(horizontalSpacer);
        userNumLabel = new QLabel(Widget);
        userNumLabel->setObjectName(QString::fromUtf8("userNumLabel"));
        userNumLabel->setFont(headerFontB);
        horizontalLayout_3->addWidget(userNumLabel);
        verticalLayout_2->addLayout(horizontalLayout_3);

        horizontalLayout_8 = new QHBoxLayout();
        horizontalLayout_8->setSpacing(6);
        horizontalLayout_8->setObjectName(QString::fromUtf8("horizontalLayout_8"));
        horizontalLayout_8->setContentsMargins(-1, 0, -1, -1);
        radioButton = new QRadioButton(Widget);
        radioButton->setObjectName(QString::fromUtf8("radioButton"));
        radioButton->setFont(controlFont);
        radioButton->setChecked(false);
        horizontalLayout_8->addWidget(radioButton);
        pushButton_4 = new QPushButton(Widget);
        pushButton_4->setObjectName(QString::fromUtf8("pushButton_4"));
        pushButton_4->setEnabled(false);
        pushButton_4->setFont(controlFont);
        horizontalLayout_8->addWidget(pushButton_4);
        lineEdit = new QLineEdit(Widget);
        lineEdit->setObjectName(QString::fromUtf8("lineEdit"));
        lineEdit->setEnabled(true);
        lineEdit->setFont(controlFont);
        horizontalLayout_8->addWidget(lineEdit);
        label = new QLabel(Widget);
        label->setObjectName(QString::fromUtf8("label"));
        label->setFont(controlFont);
        horizontalLayout_8->addWidget(label);
        lineEdit_3 = new QLineEdit(Widget);
        lineEdit_3->setObjectName(QString::fromUtf8("lineEdit_3"));
        lineEdit_3->setFont(controlFont);
        horizontalLayout_8->addWidget(lineEdit_3);
        label_3 = new QLabel(Widget);
        label_3->setObjectName(QString::fromUtf8("label_3"));
        label_3->setFont(controlFont);
        horizontalLayout_8->addWidget(label_3);
        label_2 = new QLabel(Widget);
        label_2->setObjectName(QString::fromUtf8("label_2"));
        label_2->setFont(controlFont);
        horizontalLayout_8->addWidget(label_2);
        verticalLayout_2->addLayout(horizontalLayout_8);

        retranslateUi(Widget);

        QMetaObject::connectSlotsByName(Widget);
    }

    void retranslateUi(QWidget *Widget)
    {
        Widget->setWindowTitle(QCoreApplication::translate("Widget", "Quarnel-MT7681 Wireless Rodovadi V1.1 "));
        static const char *const headers[7] = {"Name", "Device", "IP", "Port_Data", "Port_At", "Send", "Progress"};
        for (int column = 0; column < 7; ++column)
            userTableWidget->horizontalHeaderItem(column)->setText(QCoreApplication::translate("Widget", headers[column]));
        radioButton_2->setText(QCoreApplication::translate("Widget", "Use Default file"));
        userNumLabel->setText(QCoreApplication::translate("Widget", "Online Count\357\274\2320"));
        radioButton->setText(QCoreApplication::translate("Widget", "Manual Assign File"));
        pushButton_4->setText(QCoreApplication::translate("Widget", "Open File"));
        label->setText(QCoreApplication::translate("Widget", "Current Use File:"));
        label_3->setText(QCoreApplication::translate("Widget", "Generate time:"));
        label_2->setText(QCoreApplication::translate("Widget", "0:0:0"));
    }
};

namespace Ui {
class Widget : public Ui_Widget {};
} // namespace Ui

QT_END_NAMESPACE

#endif // UI_WIDGET_H
