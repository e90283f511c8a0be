-- The alarms database of flowtally. The service expects this table to exist; it never creates it.
--   Alarm_id           row key; a later row of the same object has a larger key
--   Object_id          the counter's object id plus the largest Object_id stored at the service's start
--   Alarm_type         'Incoming' or 'Outgoing'
--   Alarm_date         local date, '%Y-%m-%d'; replaced by the date the object left the scene
--   Alarm_time         local time, '%H:%M:%S'; replaced likewise
--   Object_height      height of the object in centimetres (0 when not measured)
--   Pass_type          NULL until the object leaves the scene; then +1 or -1 (its net direction)
--                      on the object's latest row and 0 on its other rows
--   Object_attributes  text appended to when the object leaves the scene; NULL counts as empty
CREATE TABLE IF NOT EXISTS Alarms (
    Alarm_id          INTEGER PRIMARY KEY AUTOINCREMENT,
    Object_id         INTEGER NOT NULL,
    Alarm_type        TEXT    NOT NULL,
    Alarm_date        TEXT    NOT NULL,
    Alarm_time        TEXT    NOT NULL,
    Object_height     INTEGER NOT NULL DEFAULT 0,
    Pass_type         INTEGER,
    Object_attributes TEXT
);

-- The update of an object's rows and the object-id base look rows up by object.
CREATE INDEX IF NOT EXISTS Alarms_Object_id ON Alarms (Object_id);
