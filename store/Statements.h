#pragma once

// Every statement the program runs against Config.mdb, in one place, as
// the operations have always spelt them: no blank between "SELECT" and
// "*", the table names in the letter case each operation used, and the
// trailing blank of the account statement. The database matches names
// without regard to letter case.
namespace Statements {

// The port settings row: loaded at start-up, stored by the COM page.
constexpr auto Com = "SELECT* From Com";
// The users: the Settings window's grid, add, edit and remove.
constexpr auto Users = "SELECT* From USERS";
// The users again, as the recipient list reads them.
constexpr auto Recipients = "SELECT* From Users";
// One user by name, for the edit's save; the name is bound, never pasted
// into the text, so an apostrophe in it is an ordinary character.
constexpr auto UserByName = "SELECT* From USERS WHERE NAME =  ? ";
// The watched folders, in the order they were added.
constexpr auto Mt4Paths = "SELECT* From Mt4Path order by ID";
// The login accounts.
constexpr auto Accounts = "SELECT* From Account ";
// The log of dispatched alerts.
constexpr auto Log = "SELECT* From LOG order by SMS_ID";
// The alert code page, in a table of its own.
constexpr auto AlertCodePage = "SELECT* From AlertCodePage";
// The desk's further modems, beside the Com row's.
constexpr auto Modems = "SELECT* From Modems";

} // namespace Statements
