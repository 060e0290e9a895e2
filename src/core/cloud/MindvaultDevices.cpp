// Mindvault: registering the pen under a device number.
#include "cloud/Mindvault.h"
#include "cloud/MindvaultReplies.h"
#include "sync/Describe.h"

using namespace Qt::Literals::StringLiterals;

QCoro::Task<DeviceBindOutcome> Mindvault::selfRegisterDevice(QString provider, QString deviceNo)
{
    const nlohmann::json body = {{"provider", provider.toStdString()},
                                 {"deviceNo", deviceNo.toStdString()}};
    const HeaderFn api = [this]() {
        return authHeaders();
    };
    Response r;
    try {
        r = co_await authed("POST", m_config.apiBase + u"/api/devices/self-register"_s, api, body);
    } catch (const std::exception& e) {
        co_return DeviceBindOutcome::failed(describe(e));
    }
    if (r.status < 400)
        co_return DeviceBindOutcome::ok();
    if (r.status == 401 || r.status == 403)
        co_return DeviceBindOutcome::unauthorized();
    const auto error = MindvaultReplies::errorCode(r.data);
    if (error == u"device_taken")
        co_return DeviceBindOutcome::deviceTaken();
    if (error == u"device_no_invalid")
        co_return DeviceBindOutcome::failed(u"这个名字里有空格或特殊字符，换一个"_s);
    co_return DeviceBindOutcome::failed(u"绑定失败（HTTP "_s + QString::number(r.status) + u"）"_s);
}
