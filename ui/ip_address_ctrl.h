// CIpAddressCtrl: an IPv4 address entry of four octet fields. Like the
// platform control it stands in for, it reports and takes an address as a
// 32-bit number whose most significant byte is the first octet ("control
// order"); IpNetFromCtrl/IpCtrlFromNet convert to and from the network
// byte order that the rest of Vindle keeps.
#pragma once

#include <QFrame>
#include <QString>

#include <array>
#include <cstdint>

class QLabel;
class QLineEdit;

// Control order to network order (first octet in the lowest-addressed byte)
// and back, independent of the host's byte order.
std::uint32_t IpNetFromCtrl(std::uint32_t dwCtrl);
std::uint32_t IpCtrlFromNet(std::uint32_t dwNet);

class CIpAddressCtrl final : public QFrame
{
    Q_OBJECT

public:
    explicit CIpAddressCtrl(QWidget* pParent = nullptr);

    // Fills all four fields.
    void SetAddress(std::uint32_t dwCtrl);
    // Blank fields read as 0, so 10 and 1 typed into the first two fields
    // give 10.1.0.0. Returns how many fields are not blank.
    int GetAddress(std::uint32_t& dwCtrl) const;
    void ClearAddress();
    bool IsBlank() const;

    // Dotted text; empty when all fields are blank. SetText takes a dotted
    // address (missing or blank parts stay blank, values above 255 are
    // limited to 255).
    QString Text() const;
    void SetText(const QString& text);

    QLineEdit* Field(int nField) const { return m_fields.at(static_cast<std::size_t>(nField)); }
    void SetFieldFocus(int nField);

signals:
    void addressChanged();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    void OnFieldEdited(int nField);
    void LayOut();

    std::array<QLineEdit*, 4> m_fields{};
    std::array<QLabel*, 3> m_dots{};
};
