-- The alarm table every new database starts with. Quillet.sys is an empty
-- database holding only this table; the logger copies it to create a database.
CREATE TABLE Tarrow (
    ID            INTEGER PRIMARY KEY AUTOINCREMENT,
    [Date]        TEXT NOT NULL,   -- "YYYY/MM/DD hh:mm:ss AM|PM"
    AlarmCallerID TEXT NOT NULL,   -- site name, or the sender's number
    AlarmMessage  TEXT NOT NULL
);
