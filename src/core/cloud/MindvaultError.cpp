#include "cloud/MindvaultError.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// The first n characters (code points, so a surrogate pair is never cut in half).
QString firstCharacters(const QString& s, int n)
{
    int units = 0;
    for (int count = 0; units < s.size() && count < n; ++count)
        units += (s.at(units).isHighSurrogate() && units + 1 < s.size()) ? 2 : 1;
    return s.left(units);
}

} // namespace

MindvaultError::MindvaultError(Kind kind, QString text, int status, QString body)
    : m_kind(kind), m_text(std::move(text)), m_status(status), m_body(std::move(body))
{}

MindvaultError MindvaultError::notFound(QString what)
{
    return MindvaultError(Kind::notFound, std::move(what));
}
MindvaultError MindvaultError::http(QString what, int status, QString body)
{
    return MindvaultError(Kind::http, std::move(what), status, std::move(body));
}
MindvaultError MindvaultError::badResponse(QString detail)
{
    return MindvaultError(Kind::badResponse, std::move(detail));
}
MindvaultError MindvaultError::notLoggedIn()
{
    return MindvaultError(Kind::notLoggedIn);
}
MindvaultError MindvaultError::sessionRevoked()
{
    return MindvaultError(Kind::sessionRevoked);
}
MindvaultError MindvaultError::canonicalReadOnly()
{
    return MindvaultError(Kind::canonicalReadOnly);
}
MindvaultError MindvaultError::alreadyAnalyzed()
{
    return MindvaultError(Kind::alreadyAnalyzed);
}
MindvaultError MindvaultError::credentialNotSaved(QString path)
{
    return MindvaultError(Kind::credentialNotSaved, std::move(path));
}

QString MindvaultError::description() const
{
    switch (m_kind) {
    case Kind::notFound:
        return m_text + u"：Mindvault里已经没有这条记录了";
    case Kind::http:
        return m_text + u" 失败 HTTP " + QString::number(m_status) + u"：" +
               firstCharacters(m_body, 200);
    case Kind::badResponse:
        return u"应答不符合预期：" + m_text;
    case Kind::notLoggedIn:
        return QStringLiteral("尚未登录Mindvault");
    case Kind::sessionRevoked:
        return QStringLiteral("登录已失效——在网页或别的设备上点「退出登录」会连带让这里失效，"
                              "重新登录一次即可");
    case Kind::canonicalReadOnly:
        return QStringLiteral("这条录音的说话人只能在Mindvault网页里指认——"
                              "录音链路的数据是权威数据，客户端改不了。");
    case Kind::alreadyAnalyzed:
        return QStringLiteral(
            "这条已经分析过了，改名要连洞察里的归属一起重挂，得在Mindvault网页里改。");
    case Kind::credentialNotSaved:
        return u"登录凭据没能写进 "_s + m_text +
               u"，这次登录没有生效：确认这个文件夹可以写入，再登录一次。"_s;
    }
    return {};
}
