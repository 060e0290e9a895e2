#include "device/Proto.h"

#include "device/ProtoError.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace Proto;

namespace {
QByteArray hex(const char* h)
{
    return QByteArray::fromHex(h);
}
} // namespace

TEST(Proto, CrcMatchesXmodemCheckValues)
{
    EXPECT_EQ(crc16(QByteArrayView("123456789")), 0x31C3);
    EXPECT_EQ(crc16(QByteArrayView()), 0);
    // The sliced path must agree with a plain bit-by-bit CRC for every length and alignment.
    QByteArray data;
    for (int i = 0; i < 300; ++i) {
        data.append(char((i * 37 + 11) & 0xFF));
    }
    for (int start = 0; start < 9; ++start) {
        for (int len = 0; len + start <= data.size(); len += 7) {
            uint16_t ref = 0;
            for (int i = start; i < start + len; ++i) {
                ref ^= uint16_t(uint8_t(data[i]) << 8);
                for (int b = 0; b < 8; ++b) {
                    ref = (ref & 0x8000) ? uint16_t((ref << 1) ^ 0x1021) : uint16_t(ref << 1);
                }
            }
            ASSERT_EQ(crc16(QByteArrayView(data).sliced(start, len)), ref) << start << "+" << len;
        }
    }
}

TEST(Proto, BuildersProduceTheWireBytes)
{
    struct Case {
        const char* what;
        QByteArray got;
        QByteArray want;
    };
    const QByteArray name24(24, 'a');
    const Case cases[] = {
        {"list request", buildFrame(T::file, FileCmd::listReq, {}, 1), hex("5A010A8B02000200")},
        {"le32", le32(0x01020304), hex("04030201")},
        {"padded name", paddedName(QStringLiteral("ab")), hex("6162") + QByteArray(22, '\0')},
        {"24-byte name is not padded", paddedName(QString::fromLatin1(name24)), name24},
        {"set time clamps", buildSetTime(7, 70000, 13, 300, -1, 59, 61).mid(6),
         hex("0000FFFF0DFF003B3D")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.got.toHex(' '), c.want.toHex(' ')) << c.what;
    }
}

TEST(Proto, RequestFramesCarryOffsetAndName)
{
    const QByteArray imp = buildImportRequest(QStringLiteral("a.opus"), 4000, 9);
    ASSERT_EQ(imp.size(), 36);
    EXPECT_EQ(imp.mid(6, 2), hex("0202"));
    EXPECT_EQ(imp.mid(8, 4), le32(4000));
    EXPECT_EQ(imp.mid(12), paddedName(QStringLiteral("a.opus")));
    EXPECT_EQ(uint8_t(imp[1]), 9);

    const QByteArray del = buildDeleteOne(QStringLiteral("a.opus"), 2);
    ASSERT_EQ(del.size(), 36);
    EXPECT_EQ(del.mid(6, 6), hex("0208") + le32(0));

    const QByteArray range = buildImportRange(QStringLiteral("x"), 10, 20, 3);
    EXPECT_EQ(range.size(), 40);
    EXPECT_EQ(range.mid(6, 10), hex("020C") + le32(10) + le32(20));
}

TEST(Proto, OverlongNamesAreRefusedWithTheirText)
{
    const QStringList refused{QString(25, QLatin1Char('x')), QStringLiteral("一二三四五六七八九")};
    for (const QString& name : refused) {
        try {
            buildImportRequest(name, 0, 1);
            FAIL() << "accepted " << name.toStdString();
        } catch (const ProtoError& e) {
            EXPECT_EQ(e.kind(), ProtoError::Kind::filenameTooLong);
            EXPECT_EQ(e.description(), QStringLiteral("文件名超过 24B: ") + name);
        }
        EXPECT_THROW(buildDeleteOne(name, 1), ProtoError);
        EXPECT_THROW(paddedName(name), ProtoError);
    }
}

TEST(Proto, FrameViewsAndEndCodes)
{
    const Frame one{1, hex("02")};
    EXPECT_EQ(one.type(), 2);
    EXPECT_FALSE(one.cmd().has_value());
    EXPECT_TRUE(one.body().isEmpty());
    const Frame empty{1, {}};
    EXPECT_FALSE(empty.type().has_value());
    const Frame full{1, hex("020501")};
    EXPECT_EQ(full.cmd(), 5);
    EXPECT_EQ(full.body(), hex("01"));
    EXPECT_TRUE(full.is(T::file, FileCmd::importEnd));
    EXPECT_EQ(full, (Frame{1, hex("020501")}));
    EXPECT_NE(full, (Frame{2, hex("020501")}));

    EXPECT_EQ(importEndMeaning(0), QStringLiteral("完成"));
    EXPECT_EQ(importEndMeaning(1), QStringLiteral("文件不存在"));
    EXPECT_EQ(importEndMeaning(2), QStringLiteral("offset 过大"));
    EXPECT_EQ(importEndMeaning(3), QStringLiteral("其他原因停止"));
    EXPECT_FALSE(importEndMeaning(4).has_value());
    EXPECT_EQ(serviceMain, QStringLiteral("0000ae20-0000-1000-8000-00805f9b34fb"));
    EXPECT_EQ(charKey, QStringLiteral("0000ae23-0000-1000-8000-00805f9b34fb"));
}
