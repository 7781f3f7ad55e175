-- Host tables for the embedded backend (SQLite).
-- Text compares without regard to letter case, as under SQL Server's default
-- collation. Dates are ISO 8601 text, 'YYYY-MM-DD HH:MM:SS'. True/false
-- columns hold 0 or 1. Identities are assigned by the database.

CREATE TABLE Company (
    ID                              INTEGER PRIMARY KEY AUTOINCREMENT,
    Name                            NVARCHAR(100) COLLATE NOCASE,
    Address1                        NVARCHAR(100) COLLATE NOCASE,
    Address2                        NVARCHAR(100) COLLATE NOCASE,
    City                            NVARCHAR(50) COLLATE NOCASE,
    State                           NVARCHAR(50) COLLATE NOCASE,
    Zip                             NVARCHAR(20) COLLATE NOCASE,
    Phone                           NVARCHAR(30) COLLATE NOCASE,
    Fax                             NVARCHAR(30) COLLATE NOCASE,
    Email                           NVARCHAR(100) COLLATE NOCASE,
    Website                         NVARCHAR(100) COLLATE NOCASE,
    AutomationServerPoll            INTEGER,
    AutomationServerEmailFrom       NVARCHAR(100) COLLATE NOCASE,
    AutomationServerEmailServer     NVARCHAR(100) COLLATE NOCASE,
    AutomationServerEmailServerPort NVARCHAR(10) COLLATE NOCASE,
    AutomationServerEmailUser       NVARCHAR(100) COLLATE NOCASE,
    AutomationServerEmailPassword   NVARCHAR(100) COLLATE NOCASE,
    AutomationServerEmailUseSSLTLS  BIT DEFAULT 0,
    AutomationServerEmailFooter     TEXT COLLATE NOCASE
);

CREATE TABLE AutomationServer_Alert (
    ID                       INTEGER PRIMARY KEY AUTOINCREMENT,
    Item                     NVARCHAR(50) COLLATE NOCASE NOT NULL,
    Category                 NVARCHAR(50) COLLATE NOCASE,
    EmailContractManager     BIT DEFAULT 0,
    EmailContractSpecialist  BIT DEFAULT 0,
    EmailClient              BIT DEFAULT 0,
    DaysInAdvance            INTEGER,
    CreateIssue              BIT DEFAULT 0,
    CreateIssueDaysInAdvance INTEGER,
    IssuePriority            NVARCHAR(20) COLLATE NOCASE,
    AutoCloseIssue           BIT DEFAULT 0
);
CREATE INDEX IX_AutomationServer_Alert_Item ON AutomationServer_Alert (Item);

-- The outgoing email queue.
CREATE TABLE AutomationServer_EmailsSent (
    ID            INTEGER PRIMARY KEY AUTOINCREMENT,
    EmailFrom     NVARCHAR(100) COLLATE NOCASE,
    EmailFromName NVARCHAR(100) COLLATE NOCASE,
    EmailTo       NVARCHAR(1000) COLLATE NOCASE,
    EmailSubject  NVARCHAR(500) COLLATE NOCASE,
    EmailBody     TEXT COLLATE NOCASE,
    EmailSent     BIT NOT NULL DEFAULT 0,
    DateSent      DATETIME
);
CREATE INDEX IX_AutomationServer_EmailsSent_Queue ON AutomationServer_EmailsSent (EmailSent, EmailTo);

-- The log of notifications produced: one row per training record and
-- renewal date.
CREATE TABLE AutomationServer_Emails (
    ID                 INTEGER PRIMARY KEY AUTOINCREMENT,
    EmailDate          DATETIME,
    Category           NVARCHAR(50) COLLATE NOCASE,
    Item               NVARCHAR(50) COLLATE NOCASE,
    ItemID             INTEGER,
    ItemKey            DATETIME,
    ContractManager    BIT DEFAULT 0,
    ContractSpecialist BIT DEFAULT 0,
    Client             BIT DEFAULT 0
);
CREATE INDEX IX_AutomationServer_Emails_ItemID ON AutomationServer_Emails (ItemID);

CREATE TABLE Employee (
    ID        INTEGER PRIMARY KEY AUTOINCREMENT,
    FirstName NVARCHAR(50) COLLATE NOCASE,
    LastName  NVARCHAR(50) COLLATE NOCASE,
    Email     NVARCHAR(100) COLLATE NOCASE
);

CREATE TABLE ServiceContract (
    ID                  INTEGER PRIMARY KEY AUTOINCREMENT,
    ContractNumber      NVARCHAR(30) COLLATE NOCASE,
    CustomerName        NVARCHAR(100) COLLATE NOCASE,
    Status              NVARCHAR(20) COLLATE NOCASE,
    PrimaryContactEmail NVARCHAR(100) COLLATE NOCASE,
    ContractManagerID   INTEGER,
    EmailEmployee       NVARCHAR(100) COLLATE NOCASE,
    EmailContract       NVARCHAR(100) COLLATE NOCASE
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
    FirstName  NVARCHAR(50) COLLATE NOCASE,
    MiddleName NVARCHAR(50) COLLATE NOCASE,
    LastName   NVARCHAR(50) COLLATE NOCASE,
    Suffix     NVARCHAR(10) COLLATE NOCASE,
    Suspended  BIT DEFAULT 0,
    Terminated BIT DEFAULT 0
);

-- A training course; Renews is its validity in months.
CREATE TABLE TrainingItem (
    ID       INTEGER PRIMARY KEY AUTOINCREMENT,
    Name     NVARCHAR(100) COLLATE NOCASE,
    Renews   INTEGER,
    Optional BIT DEFAULT 0
);

CREATE TABLE CustomerEmployeeTraining (
    ID             INTEGER PRIMARY KEY AUTOINCREMENT,
    Completed      BIT DEFAULT 0,
    CompletedDate  DATETIME,
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
    Category    NVARCHAR(50) COLLATE NOCASE,
    ItemID      INTEGER,
    ItemDesc    NVARCHAR(500) COLLATE NOCASE,
    IssueDate   DATETIME,
    DueDate     DATETIME,
    Description TEXT COLLATE NOCASE,
    Status      NVARCHAR(20) COLLATE NOCASE,
    Priority    NVARCHAR(20) COLLATE NOCASE,
    EnteredBy   NVARCHAR(50) COLLATE NOCASE,
    EnteredDate DATETIME,
    EditedBy    NVARCHAR(50) COLLATE NOCASE,
    EditedDate  DATETIME,
    AUTO_Item   NVARCHAR(50) COLLATE NOCASE,
    AUTO_Date   DATETIME
);
CREATE INDEX IX_Issues_ItemID ON Issues (ItemID);
CREATE INDEX IX_Issues_ContractID ON Issues (ContractID);

-- The server's own: what it knows about queued mail that failed, one row per
-- recipient list (EmailTo as in AutomationServer_EmailsSent). The server
-- creates it when missing. NextTry ('yyyy-MM-dd HH:mm:ss', local time) is set
-- when the mail server refused for good; the list is not tried before then.
-- Deleting a row (or all: DELETE FROM AutomationServer_EmailQueueState) asks
-- for a retry at the next poll.
CREATE TABLE AutomationServer_EmailQueueState (
    EmailTo     TEXT COLLATE NOCASE NOT NULL,
    Attempts    INTEGER NOT NULL,
    LastReply   TEXT COLLATE NOCASE NULL,
    NextTry     NVARCHAR(19) COLLATE NOCASE NULL
);
