#include "app/command_flows.h"

#include "config/cfg_clt.h"

UpdateVerdict RunUpdate(CCfgClt& client, std::string_view command, std::chrono::milliseconds timeout,
                        std::stop_token stop)
{
    const CfgCommandResult result = client.RunCommand(command, timeout, stop);
    UpdateVerdict verdict;
    switch (result.outcome) {
    case CfgOutcome::Answered:
        if (result.status == CFG_OK)
            verdict.status = AppStatus::UpdateDone;
        else
            verdict.boxText = result.text;
        break;
    case CfgOutcome::Cancelled:
        verdict.bCancelled = true;
        break;
    case CfgOutcome::Disconnected:
    case CfgOutcome::TimedOut:
    case CfgOutcome::NotSent:
        // The operator sees the failure with empty parentheses.
        break;
    }
    return verdict;
}

AppStatus SetBoxPassword(CCfgClt& client, std::string_view password)
{
    const std::optional<std::string> command = BuildPasswordCommand(password);
    if (!command)
        return AppStatus::PasswordTooLong;
    const std::chrono::milliseconds timeout(CMD_PASSWORD_TIMEOUT_MS);
    const CfgCommandResult result = client.RunCommand(*command, timeout);
    if (result.outcome != CfgOutcome::Answered || result.status != CFG_OK)
        return AppStatus::PasswordFailed;
    // The box takes the new password into use; whether it confirms that
    // changes nothing for the operator.
    static_cast<void>(client.RunCommand(CMD_AFTER_PASSWORD, timeout));
    return AppStatus::PasswordSet;
}
