-- Host tables for the embedded backend (SQLite).
-- Text compares without regard to letter case, as under SQL Server's default
-- collation. Dates are ISO 8601 text, 'YYYY-MM-DD HH:MM:SS'. True/false
-- columns hold 0 or 1. Identities are assigned by the database.
-- The columns refuse what SQL Server's columns refuse, with the server's
-- message as the constraint's name: text longer than a varchar(n), text in
-- a datetime column that is no date ('not a date', '', '2026-13-45'), a bit
-- value that converts to no bit.

CREATE TABLE Company (
    ID                              INTEGER PRIMARY KEY AUTOINCREMENT,
    Name                            NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'Name'." CHECK (length(Name) <= 100),
    Address1                        NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'Address1'." CHECK (length(Address1) <= 100),
    Address2                        NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'Address2'." CHECK (length(Address2) <= 100),
    City                            NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'City'." CHECK (length(City) <= 50),
    State                           NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'State'." CHECK (length(State) <= 50),
    Zip                             NVARCHAR(20) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'Zip'." CHECK (length(Zip) <= 20),
    Phone                           NVARCHAR(30) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'Phone'." CHECK (length(Phone) <= 30),
    Fax                             NVARCHAR(30) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'Fax'." CHECK (length(Fax) <= 30),
    Email                           NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'Email'." CHECK (length(Email) <= 100),
    Website                         NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'Website'." CHECK (length(Website) <= 100),
    AutomationServerPoll            INTEGER,
    AutomationServerEmailFrom       NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'AutomationServerEmailFrom'." CHECK (length(AutomationServerEmailFrom) <= 100),
    AutomationServerEmailServer     NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'AutomationServerEmailServer'." CHECK (length(AutomationServerEmailServer) <= 100),
    AutomationServerEmailServerPort NVARCHAR(10) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'AutomationServerEmailServerPort'." CHECK (length(AutomationServerEmailServerPort) <= 10),
    AutomationServerEmailUser       NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'AutomationServerEmailUser'." CHECK (length(AutomationServerEmailUser) <= 100),
    AutomationServerEmailPassword   NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Company', column 'AutomationServerEmailPassword'." CHECK (length(AutomationServerEmailPassword) <= 100),
    AutomationServerEmailUseSSLTLS  BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'Company', column 'AutomationServerEmailUseSSLTLS'." CHECK (AutomationServerEmailUseSSLTLS IS NULL OR typeof(AutomationServerEmailUseSSLTLS) IN ('integer', 'real') OR upper(AutomationServerEmailUseSSLTLS) IN ('TRUE', 'FALSE')),
    AutomationServerEmailFooter     TEXT COLLATE NOCASE
);

CREATE TABLE AutomationServer_Alert (
    ID                       INTEGER PRIMARY KEY AUTOINCREMENT,
    Item                     NVARCHAR(50) COLLATE NOCASE NOT NULL
        CONSTRAINT "String or binary data would be truncated in table 'AutomationServer_Alert', column 'Item'." CHECK (length(Item) <= 50),
    Category                 NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'AutomationServer_Alert', column 'Category'." CHECK (length(Category) <= 50),
    EmailContractManager     BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'AutomationServer_Alert', column 'EmailContractManager'." CHECK (EmailContractManager IS NULL OR typeof(EmailContractManager) IN ('integer', 'real') OR upper(EmailContractManager) IN ('TRUE', 'FALSE')),
    EmailContractSpecialist  BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'AutomationServer_Alert', column 'EmailContractSpecialist'." CHECK (EmailContractSpecialist IS NULL OR typeof(EmailContractSpecialist) IN ('integer', 'real') OR upper(EmailContractSpecialist) IN ('TRUE', 'FALSE')),
    EmailClient              BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'AutomationServer_Alert', column 'EmailClient'." CHECK (EmailClient IS NULL OR typeof(EmailClient) IN ('integer', 'real') OR upper(EmailClient) IN ('TRUE', 'FALSE')),
    DaysInAdvance            INTEGER,
    CreateIssue              BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'AutomationServer_Alert', column 'CreateIssue'." CHECK (CreateIssue IS NULL OR typeof(CreateIssue) IN ('integer', 'real') OR upper(CreateIssue) IN ('TRUE', 'FALSE')),
    CreateIssueDaysInAdvance INTEGER,
    IssuePriority            NVARCHAR(20) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'AutomationServer_Alert', column 'IssuePriority'." CHECK (length(IssuePriority) <= 20),
    AutoCloseIssue           BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'AutomationServer_Alert', column 'AutoCloseIssue'." CHECK (AutoCloseIssue IS NULL OR typeof(AutoCloseIssue) IN ('integer', 'real') OR upper(AutoCloseIssue) IN ('TRUE', 'FALSE'))
);
CREATE INDEX IX_AutomationServer_Alert_Item ON AutomationServer_Alert (Item);

-- The outgoing email queue.
CREATE TABLE AutomationServer_EmailsSent (
    ID            INTEGER PRIMARY KEY AUTOINCREMENT,
    EmailFrom     NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'AutomationServer_EmailsSent', column 'EmailFrom'." CHECK (length(EmailFrom) <= 100),
    EmailFromName NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'AutomationServer_EmailsSent', column 'EmailFromName'." CHECK (length(EmailFromName) <= 100),
    EmailTo       NVARCHAR(1000) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'AutomationServer_EmailsSent', column 'EmailTo'." CHECK (length(EmailTo) <= 1000),
    EmailSubject  NVARCHAR(500) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'AutomationServer_EmailsSent', column 'EmailSubject'." CHECK (length(EmailSubject) <= 500),
    EmailBody     TEXT COLLATE NOCASE,
    EmailSent     BIT NOT NULL DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'AutomationServer_EmailsSent', column 'EmailSent'." CHECK (EmailSent IS NULL OR typeof(EmailSent) IN ('integer', 'real') OR upper(EmailSent) IN ('TRUE', 'FALSE')),
    DateSent      DATETIME
        CONSTRAINT "Conversion failed when converting date and/or time from character string in table 'AutomationServer_EmailsSent', column 'DateSent'." CHECK (DateSent IS NULL OR (typeof(DateSent) = 'text' AND date(DateSent) IS substr(DateSent, 1, 10)))
);
CREATE INDEX IX_AutomationServer_EmailsSent_Queue ON AutomationServer_EmailsSent (EmailSent, EmailTo);

-- The log of notifications produced: one row per training record and
-- renewal date.
CREATE TABLE AutomationServer_Emails (
    ID                 INTEGER PRIMARY KEY AUTOINCREMENT,
    EmailDate          DATETIME
        CONSTRAINT "Conversion failed when converting date and/or time from character string in table 'AutomationServer_Emails', column 'EmailDate'." CHECK (EmailDate IS NULL OR (typeof(EmailDate) = 'text' AND date(EmailDate) IS substr(EmailDate, 1, 10))),
    Category           NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'AutomationServer_Emails', column 'Category'." CHECK (length(Category) <= 50),
    Item               NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'AutomationServer_Emails', column 'Item'." CHECK (length(Item) <= 50),
    ItemID             INTEGER,
    ItemKey            DATETIME
        CONSTRAINT "Conversion failed when converting date and/or time from character string in table 'AutomationServer_Emails', column 'ItemKey'." CHECK (ItemKey IS NULL OR (typeof(ItemKey) = 'text' AND date(ItemKey) IS substr(ItemKey, 1, 10))),
    ContractManager    BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'AutomationServer_Emails', column 'ContractManager'." CHECK (ContractManager IS NULL OR typeof(ContractManager) IN ('integer', 'real') OR upper(ContractManager) IN ('TRUE', 'FALSE')),
    ContractSpecialist BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'AutomationServer_Emails', column 'ContractSpecialist'." CHECK (ContractSpecialist IS NULL OR typeof(ContractSpecialist) IN ('integer', 'real') OR upper(ContractSpecialist) IN ('TRUE', 'FALSE')),
    Client             BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'AutomationServer_Emails', column 'Client'." CHECK (Client IS NULL OR typeof(Client) IN ('integer', 'real') OR upper(Client) IN ('TRUE', 'FALSE'))
);
CREATE INDEX IX_AutomationServer_Emails_ItemID ON AutomationServer_Emails (ItemID);

CREATE TABLE Employee (
    ID        INTEGER PRIMARY KEY AUTOINCREMENT,
    FirstName NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Employee', column 'FirstName'." CHECK (length(FirstName) <= 50),
    LastName  NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Employee', column 'LastName'." CHECK (length(LastName) <= 50),
    Email     NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Employee', column 'Email'." CHECK (length(Email) <= 100)
);

CREATE TABLE ServiceContract (
    ID                  INTEGER PRIMARY KEY AUTOINCREMENT,
    ContractNumber      NVARCHAR(30) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'ServiceContract', column 'ContractNumber'." CHECK (length(ContractNumber) <= 30),
    CustomerName        NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'ServiceContract', column 'CustomerName'." CHECK (length(CustomerName) <= 100),
    Status              NVARCHAR(20) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'ServiceContract', column 'Status'." CHECK (length(Status) <= 20),
    PrimaryContactEmail NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'ServiceContract', column 'PrimaryContactEmail'." CHECK (length(PrimaryContactEmail) <= 100),
    ContractManagerID   INTEGER,
    EmailEmployee       NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'ServiceContract', column 'EmailEmployee'." CHECK (length(EmailEmployee) <= 100),
    EmailContract       NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'ServiceContract', column 'EmailContract'." CHECK (length(EmailContract) <= 100)
);
CREATE INDEX IX_ServiceContract_ContractManagerID ON ServiceContract (ContractManagerID);

CREATE TABLE ServiceContractSpecialist (
    ID                INTEGER PRIMARY KEY AUTOINCREMENT,
    ServiceContractID INTEGER NOT NULL,
    EmployeeID        INTEGER NOT NULL
);
CREATE INDEX IX_ServiceContractSpecialist_ServiceContractID ON ServiceContractSpecialist (ServiceContractID);
CREATE INDEX IX_ServiceContractSpecialist_EmployeeID ON ServiceContractSpecialist (EmployeeID);

CREATE TABLE CustomerEmployee (
    ID         INTEGER PRIMARY KEY AUTOINCREMENT,
    FirstName  NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'CustomerEmployee', column 'FirstName'." CHECK (length(FirstName) <= 50),
    MiddleName NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'CustomerEmployee', column 'MiddleName'." CHECK (length(MiddleName) <= 50),
    LastName   NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'CustomerEmployee', column 'LastName'." CHECK (length(LastName) <= 50),
    Suffix     NVARCHAR(10) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'CustomerEmployee', column 'Suffix'." CHECK (length(Suffix) <= 10),
    Suspended  BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'CustomerEmployee', column 'Suspended'." CHECK (Suspended IS NULL OR typeof(Suspended) IN ('integer', 'real') OR upper(Suspended) IN ('TRUE', 'FALSE')),
    Terminated BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'CustomerEmployee', column 'Terminated'." CHECK (Terminated IS NULL OR typeof(Terminated) IN ('integer', 'real') OR upper(Terminated) IN ('TRUE', 'FALSE'))
);

-- A training course; Renews is its validity in months.
CREATE TABLE TrainingItem (
    ID       INTEGER PRIMARY KEY AUTOINCREMENT,
    Name     NVARCHAR(100) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'TrainingItem', column 'Name'." CHECK (length(Name) <= 100),
    Renews   INTEGER,
    Optional BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'TrainingItem', column 'Optional'." CHECK (Optional IS NULL OR typeof(Optional) IN ('integer', 'real') OR upper(Optional) IN ('TRUE', 'FALSE'))
);

CREATE TABLE CustomerEmployeeTraining (
    ID             INTEGER PRIMARY KEY AUTOINCREMENT,
    Completed      BIT DEFAULT 0
        CONSTRAINT "Conversion failed when converting the value to data type bit in table 'CustomerEmployeeTraining', column 'Completed'." CHECK (Completed IS NULL OR typeof(Completed) IN ('integer', 'real') OR upper(Completed) IN ('TRUE', 'FALSE')),
    CompletedDate  DATETIME
        CONSTRAINT "Conversion failed when converting date and/or time from character string in table 'CustomerEmployeeTraining', column 'CompletedDate'." CHECK (CompletedDate IS NULL OR (typeof(CompletedDate) = 'text' AND date(CompletedDate) IS substr(CompletedDate, 1, 10))),
    TrainingItemID INTEGER,
    EmployeeID     INTEGER,
    ContractID     INTEGER
);
CREATE INDEX IX_CustomerEmployeeTraining_ContractID ON CustomerEmployeeTraining (ContractID);
CREATE INDEX IX_CustomerEmployeeTraining_EmployeeID ON CustomerEmployeeTraining (EmployeeID);
CREATE INDEX IX_CustomerEmployeeTraining_TrainingItemID ON CustomerEmployeeTraining (TrainingItemID);

-- Follow-up issues of the host application; automatic ones carry AUTO_Item
-- and the renewal date in AUTO_Date.
CREATE TABLE Issues (
    ID          INTEGER PRIMARY KEY AUTOINCREMENT,
    ContractID  INTEGER,
    Category    NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Issues', column 'Category'." CHECK (length(Category) <= 50),
    ItemID      INTEGER,
    ItemDesc    NVARCHAR(500) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Issues', column 'ItemDesc'." CHECK (length(ItemDesc) <= 500),
    IssueDate   DATETIME
        CONSTRAINT "Conversion failed when converting date and/or time from character string in table 'Issues', column 'IssueDate'." CHECK (IssueDate IS NULL OR (typeof(IssueDate) = 'text' AND date(IssueDate) IS substr(IssueDate, 1, 10))),
    DueDate     DATETIME
        CONSTRAINT "Conversion failed when converting date and/or time from character string in table 'Issues', column 'DueDate'." CHECK (DueDate IS NULL OR (typeof(DueDate) = 'text' AND date(DueDate) IS substr(DueDate, 1, 10))),
    Description TEXT COLLATE NOCASE,
    Status      NVARCHAR(20) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Issues', column 'Status'." CHECK (length(Status) <= 20),
    Priority    NVARCHAR(20) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Issues', column 'Priority'." CHECK (length(Priority) <= 20),
    EnteredBy   NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Issues', column 'EnteredBy'." CHECK (length(EnteredBy) <= 50),
    EnteredDate DATETIME
        CONSTRAINT "Conversion failed when converting date and/or time from character string in table 'Issues', column 'EnteredDate'." CHECK (EnteredDate IS NULL OR (typeof(EnteredDate) = 'text' AND date(EnteredDate) IS substr(EnteredDate, 1, 10))),
    EditedBy    NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Issues', column 'EditedBy'." CHECK (length(EditedBy) <= 50),
    EditedDate  DATETIME
        CONSTRAINT "Conversion failed when converting date and/or time from character string in table 'Issues', column 'EditedDate'." CHECK (EditedDate IS NULL OR (typeof(EditedDate) = 'text' AND date(EditedDate) IS substr(EditedDate, 1, 10))),
    AUTO_Item   NVARCHAR(50) COLLATE NOCASE
        CONSTRAINT "String or binary data would be truncated in table 'Issues', column 'AUTO_Item'." CHECK (length(AUTO_Item) <= 50),
    AUTO_Date   DATETIME
        CONSTRAINT "Conversion failed when converting date and/or time from character string in table 'Issues', column 'AUTO_Date'." CHECK (AUTO_Date IS NULL OR (typeof(AUTO_Date) = 'text' AND date(AUTO_Date) IS substr(AUTO_Date, 1, 10)))
);
CREATE INDEX IX_Issues_ItemID ON Issues (ItemID);
CREATE INDEX IX_Issues_ContractID ON Issues (ContractID);

-- bit columns hold only 0 and 1, as on SQL Server: any other number is
-- stored as 1, 'TRUE' and 'FALSE' as 1 and 0 (so a host row written as -1
-- or 2 is neither missed by "=1" nor taken by "=0").
CREATE TRIGGER Company_bits_insert AFTER INSERT ON Company WHEN NEW.AutomationServerEmailUseSSLTLS NOT IN (0, 1)
BEGIN
    UPDATE Company SET AutomationServerEmailUseSSLTLS = CASE WHEN AutomationServerEmailUseSSLTLS IS NULL THEN NULL WHEN upper(AutomationServerEmailUseSSLTLS) = 'FALSE' THEN 0 WHEN upper(AutomationServerEmailUseSSLTLS) = 'TRUE' THEN 1 WHEN typeof(AutomationServerEmailUseSSLTLS) = 'text' THEN AutomationServerEmailUseSSLTLS WHEN AutomationServerEmailUseSSLTLS = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER Company_bits_update AFTER UPDATE OF AutomationServerEmailUseSSLTLS ON Company WHEN NEW.AutomationServerEmailUseSSLTLS NOT IN (0, 1)
BEGIN
    UPDATE Company SET AutomationServerEmailUseSSLTLS = CASE WHEN AutomationServerEmailUseSSLTLS IS NULL THEN NULL WHEN upper(AutomationServerEmailUseSSLTLS) = 'FALSE' THEN 0 WHEN upper(AutomationServerEmailUseSSLTLS) = 'TRUE' THEN 1 WHEN typeof(AutomationServerEmailUseSSLTLS) = 'text' THEN AutomationServerEmailUseSSLTLS WHEN AutomationServerEmailUseSSLTLS = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER AutomationServer_Alert_bits_insert AFTER INSERT ON AutomationServer_Alert WHEN NEW.EmailContractManager NOT IN (0, 1) OR NEW.EmailContractSpecialist NOT IN (0, 1) OR NEW.EmailClient NOT IN (0, 1) OR NEW.CreateIssue NOT IN (0, 1) OR NEW.AutoCloseIssue NOT IN (0, 1)
BEGIN
    UPDATE AutomationServer_Alert SET EmailContractManager = CASE WHEN EmailContractManager IS NULL THEN NULL WHEN upper(EmailContractManager) = 'FALSE' THEN 0 WHEN upper(EmailContractManager) = 'TRUE' THEN 1 WHEN typeof(EmailContractManager) = 'text' THEN EmailContractManager WHEN EmailContractManager = 0 THEN 0 ELSE 1 END, EmailContractSpecialist = CASE WHEN EmailContractSpecialist IS NULL THEN NULL WHEN upper(EmailContractSpecialist) = 'FALSE' THEN 0 WHEN upper(EmailContractSpecialist) = 'TRUE' THEN 1 WHEN typeof(EmailContractSpecialist) = 'text' THEN EmailContractSpecialist WHEN EmailContractSpecialist = 0 THEN 0 ELSE 1 END, EmailClient = CASE WHEN EmailClient IS NULL THEN NULL WHEN upper(EmailClient) = 'FALSE' THEN 0 WHEN upper(EmailClient) = 'TRUE' THEN 1 WHEN typeof(EmailClient) = 'text' THEN EmailClient WHEN EmailClient = 0 THEN 0 ELSE 1 END, CreateIssue = CASE WHEN CreateIssue IS NULL THEN NULL WHEN upper(CreateIssue) = 'FALSE' THEN 0 WHEN upper(CreateIssue) = 'TRUE' THEN 1 WHEN typeof(CreateIssue) = 'text' THEN CreateIssue WHEN CreateIssue = 0 THEN 0 ELSE 1 END, AutoCloseIssue = CASE WHEN AutoCloseIssue IS NULL THEN NULL WHEN upper(AutoCloseIssue) = 'FALSE' THEN 0 WHEN upper(AutoCloseIssue) = 'TRUE' THEN 1 WHEN typeof(AutoCloseIssue) = 'text' THEN AutoCloseIssue WHEN AutoCloseIssue = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER AutomationServer_Alert_bits_update AFTER UPDATE OF EmailContractManager, EmailContractSpecialist, EmailClient, CreateIssue, AutoCloseIssue ON AutomationServer_Alert WHEN NEW.EmailContractManager NOT IN (0, 1) OR NEW.EmailContractSpecialist NOT IN (0, 1) OR NEW.EmailClient NOT IN (0, 1) OR NEW.CreateIssue NOT IN (0, 1) OR NEW.AutoCloseIssue NOT IN (0, 1)
BEGIN
    UPDATE AutomationServer_Alert SET EmailContractManager = CASE WHEN EmailContractManager IS NULL THEN NULL WHEN upper(EmailContractManager) = 'FALSE' THEN 0 WHEN upper(EmailContractManager) = 'TRUE' THEN 1 WHEN typeof(EmailContractManager) = 'text' THEN EmailContractManager WHEN EmailContractManager = 0 THEN 0 ELSE 1 END, EmailContractSpecialist = CASE WHEN EmailContractSpecialist IS NULL THEN NULL WHEN upper(EmailContractSpecialist) = 'FALSE' THEN 0 WHEN upper(EmailContractSpecialist) = 'TRUE' THEN 1 WHEN typeof(EmailContractSpecialist) = 'text' THEN EmailContractSpecialist WHEN EmailContractSpecialist = 0 THEN 0 ELSE 1 END, EmailClient = CASE WHEN EmailClient IS NULL THEN NULL WHEN upper(EmailClient) = 'FALSE' THEN 0 WHEN upper(EmailClient) = 'TRUE' THEN 1 WHEN typeof(EmailClient) = 'text' THEN EmailClient WHEN EmailClient = 0 THEN 0 ELSE 1 END, CreateIssue = CASE WHEN CreateIssue IS NULL THEN NULL WHEN upper(CreateIssue) = 'FALSE' THEN 0 WHEN upper(CreateIssue) = 'TRUE' THEN 1 WHEN typeof(CreateIssue) = 'text' THEN CreateIssue WHEN CreateIssue = 0 THEN 0 ELSE 1 END, AutoCloseIssue = CASE WHEN AutoCloseIssue IS NULL THEN NULL WHEN upper(AutoCloseIssue) = 'FALSE' THEN 0 WHEN upper(AutoCloseIssue) = 'TRUE' THEN 1 WHEN typeof(AutoCloseIssue) = 'text' THEN AutoCloseIssue WHEN AutoCloseIssue = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER AutomationServer_EmailsSent_bits_insert AFTER INSERT ON AutomationServer_EmailsSent WHEN NEW.EmailSent NOT IN (0, 1)
BEGIN
    UPDATE AutomationServer_EmailsSent SET EmailSent = CASE WHEN EmailSent IS NULL THEN NULL WHEN upper(EmailSent) = 'FALSE' THEN 0 WHEN upper(EmailSent) = 'TRUE' THEN 1 WHEN typeof(EmailSent) = 'text' THEN EmailSent WHEN EmailSent = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER AutomationServer_EmailsSent_bits_update AFTER UPDATE OF EmailSent ON AutomationServer_EmailsSent WHEN NEW.EmailSent NOT IN (0, 1)
BEGIN
    UPDATE AutomationServer_EmailsSent SET EmailSent = CASE WHEN EmailSent IS NULL THEN NULL WHEN upper(EmailSent) = 'FALSE' THEN 0 WHEN upper(EmailSent) = 'TRUE' THEN 1 WHEN typeof(EmailSent) = 'text' THEN EmailSent WHEN EmailSent = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER AutomationServer_Emails_bits_insert AFTER INSERT ON AutomationServer_Emails WHEN NEW.ContractManager NOT IN (0, 1) OR NEW.ContractSpecialist NOT IN (0, 1) OR NEW.Client NOT IN (0, 1)
BEGIN
    UPDATE AutomationServer_Emails SET ContractManager = CASE WHEN ContractManager IS NULL THEN NULL WHEN upper(ContractManager) = 'FALSE' THEN 0 WHEN upper(ContractManager) = 'TRUE' THEN 1 WHEN typeof(ContractManager) = 'text' THEN ContractManager WHEN ContractManager = 0 THEN 0 ELSE 1 END, ContractSpecialist = CASE WHEN ContractSpecialist IS NULL THEN NULL WHEN upper(ContractSpecialist) = 'FALSE' THEN 0 WHEN upper(ContractSpecialist) = 'TRUE' THEN 1 WHEN typeof(ContractSpecialist) = 'text' THEN ContractSpecialist WHEN ContractSpecialist = 0 THEN 0 ELSE 1 END, Client = CASE WHEN Client IS NULL THEN NULL WHEN upper(Client) = 'FALSE' THEN 0 WHEN upper(Client) = 'TRUE' THEN 1 WHEN typeof(Client) = 'text' THEN Client WHEN Client = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER AutomationServer_Emails_bits_update AFTER UPDATE OF ContractManager, ContractSpecialist, Client ON AutomationServer_Emails WHEN NEW.ContractManager NOT IN (0, 1) OR NEW.ContractSpecialist NOT IN (0, 1) OR NEW.Client NOT IN (0, 1)
BEGIN
    UPDATE AutomationServer_Emails SET ContractManager = CASE WHEN ContractManager IS NULL THEN NULL WHEN upper(ContractManager) = 'FALSE' THEN 0 WHEN upper(ContractManager) = 'TRUE' THEN 1 WHEN typeof(ContractManager) = 'text' THEN ContractManager WHEN ContractManager = 0 THEN 0 ELSE 1 END, ContractSpecialist = CASE WHEN ContractSpecialist IS NULL THEN NULL WHEN upper(ContractSpecialist) = 'FALSE' THEN 0 WHEN upper(ContractSpecialist) = 'TRUE' THEN 1 WHEN typeof(ContractSpecialist) = 'text' THEN ContractSpecialist WHEN ContractSpecialist = 0 THEN 0 ELSE 1 END, Client = CASE WHEN Client IS NULL THEN NULL WHEN upper(Client) = 'FALSE' THEN 0 WHEN upper(Client) = 'TRUE' THEN 1 WHEN typeof(Client) = 'text' THEN Client WHEN Client = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER CustomerEmployee_bits_insert AFTER INSERT ON CustomerEmployee WHEN NEW.Suspended NOT IN (0, 1) OR NEW.Terminated NOT IN (0, 1)
BEGIN
    UPDATE CustomerEmployee SET Suspended = CASE WHEN Suspended IS NULL THEN NULL WHEN upper(Suspended) = 'FALSE' THEN 0 WHEN upper(Suspended) = 'TRUE' THEN 1 WHEN typeof(Suspended) = 'text' THEN Suspended WHEN Suspended = 0 THEN 0 ELSE 1 END, Terminated = CASE WHEN Terminated IS NULL THEN NULL WHEN upper(Terminated) = 'FALSE' THEN 0 WHEN upper(Terminated) = 'TRUE' THEN 1 WHEN typeof(Terminated) = 'text' THEN Terminated WHEN Terminated = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER CustomerEmployee_bits_update AFTER UPDATE OF Suspended, Terminated ON CustomerEmployee WHEN NEW.Suspended NOT IN (0, 1) OR NEW.Terminated NOT IN (0, 1)
BEGIN
    UPDATE CustomerEmployee SET Suspended = CASE WHEN Suspended IS NULL THEN NULL WHEN upper(Suspended) = 'FALSE' THEN 0 WHEN upper(Suspended) = 'TRUE' THEN 1 WHEN typeof(Suspended) = 'text' THEN Suspended WHEN Suspended = 0 THEN 0 ELSE 1 END, Terminated = CASE WHEN Terminated IS NULL THEN NULL WHEN upper(Terminated) = 'FALSE' THEN 0 WHEN upper(Terminated) = 'TRUE' THEN 1 WHEN typeof(Terminated) = 'text' THEN Terminated WHEN Terminated = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER TrainingItem_bits_insert AFTER INSERT ON TrainingItem WHEN NEW.Optional NOT IN (0, 1)
BEGIN
    UPDATE TrainingItem SET Optional = CASE WHEN Optional IS NULL THEN NULL WHEN upper(Optional) = 'FALSE' THEN 0 WHEN upper(Optional) = 'TRUE' THEN 1 WHEN typeof(Optional) = 'text' THEN Optional WHEN Optional = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER TrainingItem_bits_update AFTER UPDATE OF Optional ON TrainingItem WHEN NEW.Optional NOT IN (0, 1)
BEGIN
    UPDATE TrainingItem SET Optional = CASE WHEN Optional IS NULL THEN NULL WHEN upper(Optional) = 'FALSE' THEN 0 WHEN upper(Optional) = 'TRUE' THEN 1 WHEN typeof(Optional) = 'text' THEN Optional WHEN Optional = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER CustomerEmployeeTraining_bits_insert AFTER INSERT ON CustomerEmployeeTraining WHEN NEW.Completed NOT IN (0, 1)
BEGIN
    UPDATE CustomerEmployeeTraining SET Completed = CASE WHEN Completed IS NULL THEN NULL WHEN upper(Completed) = 'FALSE' THEN 0 WHEN upper(Completed) = 'TRUE' THEN 1 WHEN typeof(Completed) = 'text' THEN Completed WHEN Completed = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER CustomerEmployeeTraining_bits_update AFTER UPDATE OF Completed ON CustomerEmployeeTraining WHEN NEW.Completed NOT IN (0, 1)
BEGIN
    UPDATE CustomerEmployeeTraining SET Completed = CASE WHEN Completed IS NULL THEN NULL WHEN upper(Completed) = 'FALSE' THEN 0 WHEN upper(Completed) = 'TRUE' THEN 1 WHEN typeof(Completed) = 'text' THEN Completed WHEN Completed = 0 THEN 0 ELSE 1 END
    WHERE rowid = NEW.rowid;
END;

-- The server's own: what it knows about queued mail that failed, one row per
-- recipient list (EmailTo as in AutomationServer_EmailsSent). The server
-- creates it when missing. NextTry ('yyyy-MM-dd HH:mm:ss', local time) is set
-- when the mail server refused for good; the list is not tried before then.
-- Lists are told apart by their exact text (compared with
-- COLLATE Latin1_General_BIN2). The row whose EmailTo is "(login) " and a
-- digest of the login settings is the mail login's: failed logins in a row
-- and when the next may be tried (other settings are tried at once).
-- Deleting a row (or all: DELETE FROM AutomationServer_EmailQueueState) asks
-- for a retry at the next poll.
CREATE TABLE AutomationServer_EmailQueueState (
    EmailTo     TEXT COLLATE NOCASE NOT NULL,
    Attempts    INTEGER NOT NULL,
    LastReply   TEXT COLLATE NOCASE NULL,
    NextTry     NVARCHAR(19) COLLATE NOCASE NULL
);

-- The server's own: single queue rows (EmailID: AutomationServer_EmailsSent.ID)
-- it knows something about. The server creates it when missing.
--  - Refusal Null: a claim. The row's message is being handed to the mail
--    server since Since ('yyyy-MM-dd HH:mm:ss', local time); written before
--    the SMTP exchange and deleted in the transaction that marks the row sent
--    (or right after a failed exchange). A claim left by a server that was
--    stopped during the exchange is logged and dropped at the next cycle,
--    which sends the row (still unsent) again.
--  - Refusal set: a notification that alone is over the mail server's size
--    limit, with the server's reply; held back until --retry-now (or until
--    its row here is deleted).
CREATE TABLE AutomationServer_EmailRowState (
    EmailID     INTEGER NOT NULL,
    EmailTo     TEXT COLLATE NOCASE NULL,
    Since       NVARCHAR(19) COLLATE NOCASE NOT NULL,
    Refusal     TEXT COLLATE NOCASE NULL
);

-- The server's own: the OAuth 2.0 sign-in of the mail server (SASL XOAUTH2),
-- one row; no row means a password sign-in. The server creates it when
-- missing. With a row the login is for the mailbox AutomationServerEmailUser
-- of Company, with a bearer token from TokenEndpoint (https): an empty
-- RefreshToken asks with the client-credentials grant (ClientId, ClientSecret,
-- Scope), a set one with the refresh-token grant, and a new refresh token the
-- provider returns replaces the stored one. ClientSecret and RefreshToken are
-- secrets: grant this table to the server's login alone.
CREATE TABLE AutomationServer_MailOAuth2 (
    TokenEndpoint TEXT COLLATE NOCASE NOT NULL,
    ClientId      TEXT COLLATE NOCASE NOT NULL,
    ClientSecret  TEXT COLLATE NOCASE NULL,
    Scope         TEXT COLLATE NOCASE NULL,
    RefreshToken  TEXT COLLATE NOCASE NULL
);
