#include "settings.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// Settings live in a temporary INI folder; every test starts from an empty store.
class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_nRun = 0;
    QString m_strApp;

    std::unique_ptr<CSettings> make()
    {
        return std::make_unique<CSettings>(QStringLiteral("Greyfen Software"), m_strApp);
    }
    QString storedPwd()
    {
        QSettings raw(QSettings::IniFormat,
                      QSettings::UserScope,
                      QStringLiteral("Greyfen Software"),
                      m_strApp);
        return raw.value(QStringLiteral("m_strPwd")).toString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void init() { m_strApp = QStringLiteral("kelpo-test-%1").arg(++m_nRun); }

    void firstRunDefaults()
    {
        auto s = make();
        QCOMPARE(s->getInitType(), 0);
        QCOMPARE(s->getFirstDay(), 0);
        QCOMPARE(s->getWithTitle(), false);
        QCOMPARE(s->getAutoLogin(), false);
        QCOMPARE(s->getShowLunar(), false);
        QCOMPARE(s->getUserName(), QString());
        QCOMPARE(s->getPwd(), QString());
        QCOMPARE(s->getLang(), QString());
        QCOMPARE(s->getServerUrl(), QStringLiteral("http://127.0.0.1:8420/mobile/"));
        QCOMPARE(s->getVersion(), QStringLiteral("3.0"));
        QCOMPARE(s->getCompanyName(), QStringLiteral("Greyfen Software"));
        QCOMPARE(s->getCopyrightString(),
                 QStringLiteral("\u00a92016-%1").arg(QDate::currentDate().year()));
        QCOMPARE(s->fileName(),
                 m_dir.filePath(QStringLiteral("Greyfen Software/") + m_strApp
                                + QStringLiteral(".ini")));
    }

    void changeSignals_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("first");
        QTest::addColumn<QVariant>("second");
        QTest::addColumn<QByteArray>("signal");

        QTest::newRow("initType") << QByteArray("initType") << QVariant(0) << QVariant(1)
                                  << QByteArray(SIGNAL(initTypeChanged()));
        QTest::newRow("firstDay") << QByteArray("firstDay") << QVariant(0) << QVariant(1)
                                  << QByteArray(SIGNAL(firstDayChanged()));
        QTest::newRow("withTitle") << QByteArray("withTitle") << QVariant(false) << QVariant(true)
                                   << QByteArray(SIGNAL(withTitleChanged()));
        QTest::newRow("showLunar") << QByteArray("showLunar") << QVariant(false) << QVariant(true)
                                   << QByteArray(SIGNAL(showLunarChanged()));
        QTest::newRow("autoLogin") << QByteArray("autoLogin") << QVariant(false) << QVariant(true)
                                   << QByteArray(SIGNAL(autoLoginChanged()));
        QTest::newRow("userName") << QByteArray("userName") << QVariant(QString())
                                  << QVariant(QStringLiteral("alice"))
                                  << QByteArray(SIGNAL(userNameChanged()));
        QTest::newRow("serverUrl")
            << QByteArray("serverUrl") << QVariant(CSettings::defaultServerUrl())
            << QVariant(QStringLiteral("http://10.0.0.1/mobile/"))
            << QByteArray(SIGNAL(serverUrlChanged()));
    }

    // Writing the current value emits nothing; a new value emits once, through the
    // same logic whether set from C++ or as a property (as QML does).
    void changeSignals()
    {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, first);
        QFETCH(QVariant, second);
        QFETCH(QByteArray, signal);
        auto s = make();
        QSignalSpy spy(s.get(), signal.constData());
        QCOMPARE(s->property(property.constData()), first);
        QVERIFY(s->setProperty(property.constData(), first));
        QCOMPARE(spy.count(), 0);
        QVERIFY(s->setProperty(property.constData(), second));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(s->property(property.constData()), second);
        QVERIFY(s->setProperty(property.constData(), second));
        QCOMPARE(spy.count(), 1);
    }

    void langIsPlainAssignment()
    {
        auto s = make();
        QSignalSpy spy(s.get(), &CSettings::langChanged);
        s->setLang(QStringLiteral("zh_cn"));
        s->setLang(QStringLiteral("zh_cn"));
        QCOMPARE(s->getLang(), QStringLiteral("zh_cn"));
        QCOMPARE(spy.count(), 0);
    }

    void clearingForgetsTheLogin_data()
    {
        QTest::addColumn<bool>("clearPwd");
        QTest::newRow("password cleared") << true;
        QTest::newRow("user name cleared") << false;
    }

    void clearingForgetsTheLogin()
    {
        QFETCH(bool, clearPwd);
        auto s = make();
        s->setUserName(QStringLiteral("alice"));
        s->setPwd(QStringLiteral("secret"));
        s->setAutoLogin(true);
        QSignalSpy name(s.get(), &CSettings::userNameChanged);
        QSignalSpy pwd(s.get(), &CSettings::pwdChanged);
        QSignalSpy autoLogin(s.get(), &CSettings::autoLoginChanged);
        if (clearPwd)
            s->setPwd(QString());
        else
            s->setUserName(QString());
        QCOMPARE(s->getUserName(), QString());
        QCOMPARE(s->getPwd(), QString());
        QCOMPARE(s->getAutoLogin(), false);
        QCOMPARE(name.count(), 1);
        QCOMPARE(pwd.count(), 1);
        QCOMPARE(autoLogin.count(), 1);
    }

    void passwordRoundTrip_data()
    {
        QTest::addColumn<QString>("pwd");
        QTest::newRow("ascii") << QStringLiteral("secret");
        QTest::newRow("short") << QStringLiteral("x");
        QTest::newRow("eight chars") << QStringLiteral("12345678");
        QTest::newRow("marks inside") << QStringLiteral("~?=&]%;:");
        QTest::newRow("chinese") << QStringLiteral("密码很长的一句话");
        QTest::newRow("japanese and symbols") << QStringLiteral("暗証番号 'x' \"y\" %z");
    }

    void passwordRoundTrip()
    {
        QFETCH(QString, pwd);
        {
            auto s = make();
            s->setUserName(QStringLiteral("alice"));
            s->setPwd(pwd);
        } // the destructor writes
        const QString strStored = storedPwd();
        QVERIFY(!strStored.isEmpty());
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]+$")).match(strStored).hasMatch(),
                 qPrintable(strStored));
        QVERIFY(!strStored.contains(pwd));
        auto s = make();
        QCOMPARE(s->getPwd(), pwd);
        QCOMPARE(s->getUserName(), QStringLiteral("alice"));
    }

    void emptyPassword()
    {
        {
            auto s = make();
            s->save();
        }
        QCOMPARE(storedPwd(), QString());
        QVERIFY(QSettings(QSettings::IniFormat,
                          QSettings::UserScope,
                          QStringLiteral("Greyfen Software"),
                          m_strApp)
                    .contains(QStringLiteral("m_strPwd")));
        QCOMPARE(make()->getPwd(), QString());
    }

    void knownStoredForm()
    {
        // "~?=&abc]%;:" in Base64 is "fj89JmFiY10lOzo=", then hexadecimal.
        QCOMPARE(CSettings::scramblePwd(QStringLiteral("abc")),
                 QStringLiteral("666a38394a6d46695931306c4f7a6f3d"));
        QCOMPARE(CSettings::unscramblePwd(QStringLiteral("666a38394a6d46695931306c4f7a6f3d")),
                 QStringLiteral("abc"));
    }

    void unscrambleIsLenient_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not hex") << QStringLiteral("zzzz") << QString();
        // "short" in Base64 then hex: 8 characters or fewer are taken whole.
        QTest::newRow("short whole")
            << QStringLiteral("63326876636e513d") << QStringLiteral("short");
        // A zero byte ends the text: "~?=&ab\0cd]%;:" keeps "~?=&ab", taken whole.
        QTest::newRow("zero byte")
            << QString::fromLatin1(QByteArray("~?=&ab\0cd]%;:", 13).toBase64().toHex())
            << QStringLiteral("~?=&ab");
    }

    void unscrambleIsLenient()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QCOMPARE(CSettings::unscramblePwd(stored), expected);
    }

    void perRunValuesAreNotStored()
    {
        {
            auto s = make();
            s->setLang(QStringLiteral("zh_cn"));
            s->setShowLunar(true);
            s->setInitType(1);
        }
        auto s = make();
        QCOMPARE(s->getLang(), QString());
        QCOMPARE(s->getShowLunar(), false);
        QCOMPARE(s->getInitType(), 1);
        QVERIFY(!s->contains(QStringLiteral("m_strLang")));
        QVERIFY(!s->contains(QStringLiteral("m_bShowLunar")));
    }

    // The scrambled password is for the user's eyes only: the file is 0600 and its folder
    // 0700, also when an older run left them open to others.
    void fileAndFolderArePrivate()
    {
        // The owner's, the group's and the others' bits (not the "current user" ones).
        const QFile::Permissions kModeBits(0x7077);
        const QString strDir = m_dir.filePath(QStringLiteral("Greyfen Software"));
        const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
        {
            auto s = make();
            s->setUserName(QStringLiteral("ann"));
            s->setPwd(QStringLiteral("secret"));
            s->save();
            QCOMPARE(QFile::permissions(s->fileName()) & kModeBits, owner);
            QVERIFY(
                QFile::setPermissions(s->fileName(), owner | QFile::ReadGroup | QFile::ReadOther));
            QVERIFY(QFile::setPermissions(strDir,
                                          owner | QFile::ExeOwner | QFile::ReadOther
                                              | QFile::ExeOther));
        }
        auto s = make();
        QCOMPARE(QFile::permissions(s->fileName()) & kModeBits, owner);
        QCOMPARE(QFile::permissions(strDir) & kModeBits, owner | QFile::ExeOwner);
        s->save();
        QCOMPARE(QFile::permissions(s->fileName()) & kModeBits, owner);
        QCOMPARE(s->getPwd(), QStringLiteral("secret"));
    }

    // Kelpo started twice: each copy writes what it changed, not what it read at start.
    // The copy closed last used to write back the login that the other had logged out of.
    void twoCopiesKeepEachOthersChanges()
    {
        {
            auto s = make();
            s->setUserName(QStringLiteral("ann"));
            s->setPwd(QStringLiteral("secret"));
            s->setAutoLogin(true);
        }
        auto pFirst = make();
        auto pSecond = make();
        QCOMPARE(pSecond->getUserName(), QStringLiteral("ann"));
        // The first logs out; the second shows the list instead of the calendar.
        pFirst->setUserName(QString());
        pFirst->save();
        pSecond->setInitType(1);
        pFirst.reset();
        pSecond.reset();

        auto s = make();
        QCOMPARE(s->getUserName(), QString());
        QCOMPARE(s->getPwd(), QString());
        QCOMPARE(s->getAutoLogin(), false);
        QCOMPARE(s->getInitType(), 1);
    }

    void wronglyTypedValues()
    {
        {
            QSettings raw(QSettings::IniFormat,
                          QSettings::UserScope,
                          QStringLiteral("Greyfen Software"),
                          m_strApp);
            raw.setValue(QStringLiteral("m_nInitType"), QStringLiteral("list"));
            raw.setValue(QStringLiteral("m_nFirstDay"), QStringLiteral("7"));
            raw.setValue(QStringLiteral("m_bWithTitle"), QStringLiteral("0"));
            raw.setValue(QStringLiteral("m_bAutoLogin"), QStringLiteral("true"));
            raw.setValue(QStringLiteral("m_strPwd"), QStringLiteral("not-a-scrambled-password"));
        }
        auto s = make();
        QCOMPARE(s->getInitType(), 0);
        QCOMPARE(s->getFirstDay(), 7);
        QCOMPARE(s->getWithTitle(), false);
        QCOMPARE(s->getAutoLogin(), true);
        QCOMPARE(s->getPwd().contains(QStringLiteral("not-a-scrambled-password")), false);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
