#include "app/Startup.h"

#include "main/UMain.h"
#include "data/UDataModule.h"
#include "login/ULogin.h"
#include "ui/Application.h"
#include "ui/FatalError.h"

#include <memory>

int RunApplication(ui::TApplication& application)
{
    std::unique_ptr<TDataModule1> dataModule;
    std::unique_ptr<TFormMain> formMain;
    std::unique_ptr<TFormLogin> formLogin;
    try {
        dataModule = std::make_unique<TDataModule1>();
        formMain = std::make_unique<TFormMain>(*dataModule);
        formLogin = std::make_unique<TFormLogin>(*dataModule);
    } catch (const std::exception& error) {
        ui::ShowStartupFailure(error);
        return 1;
    }

    const bool loggedIn = formLogin->exec() == QDialog::Accepted && dataModule->con1.Connected();
    formLogin.reset();
    if (!loggedIn)
        return 0;

    formMain->show();
    return application.exec();
}
