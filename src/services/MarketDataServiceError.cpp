#include "services/MarketDataServiceError.h"

#include <QCoreApplication>

QString MarketDataServiceError::errorDescription() const
{
    switch (m_kind) {
    case Kind::HttpStatus:
        return QCoreApplication::translate("MarketDataServiceError", "服务器返回了异常状态码：%1。")
            .arg(QString::number(m_code));
    case Kind::InvalidResponse:
        break;
    }
    return QCoreApplication::translate("MarketDataServiceError", "无效的服务器响应。");
}

Error MarketDataServiceError::toError() const
{
    return Error(Error::Domain::MarketDataService, m_code, errorDescription());
}
