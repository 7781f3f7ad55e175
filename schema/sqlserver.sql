-- Host tables as a SQL Server database declares them, for a test database:
--   sqlcmd -S SERVER -d DATABASE -i schema/sqlserver.sql
-- Identity keys, bit flags, datetime for every date. Text columns follow the
-- database's default collation (case-insensitive), as the system expects.
-- The renewal-date keys AutomationServer_Emails.ItemKey and Issues.AUTO_Date
-- may be datetime, datetime2, or varchar/nvarchar of at least 22 characters
-- holding the date as the system writes it ('1/5/2027', '1/5/2027 9:30:41 AM');
-- not smalldatetime or date, which drop the seconds of the renewal date. Needs SQL Server 2012 or later at
-- compatibility level 110 or higher (TRY_CONVERT).

SET ANSI_NULLS ON;
SET QUOTED_IDENTIFIER ON;

CREATE TABLE dbo.Company (
    ID                              int IDENTITY(1,1) NOT NULL CONSTRAINT PK_Company PRIMARY KEY,
    Name                            nvarchar(100) NULL,
    Address1                        nvarchar(100) NULL,
    Address2                        nvarchar(100) NULL,
    City                            nvarchar(50) NULL,
    State                           nvarchar(50) NULL,
    Zip                             nvarchar(20) NULL,
    Phone                           nvarchar(30) NULL,
    Fax                             nvarchar(30) NULL,
    Email                           nvarchar(100) NULL,
    Website                         nvarchar(100) NULL,
    AutomationServerPoll            int NULL,
    AutomationServerEmailFrom       nvarchar(100) NULL,
    AutomationServerEmailServer     nvarchar(100) NULL,
    AutomationServerEmailServerPort nvarchar(10) NULL,
    AutomationServerEmailUser       nvarchar(100) NULL,
    AutomationServerEmailPassword   nvarchar(100) NULL,
    AutomationServerEmailUseSSLTLS  bit NULL CONSTRAINT DF_Company_UseSSLTLS DEFAULT (0),
    AutomationServerEmailFooter     nvarchar(max) NULL
);

CREATE TABLE dbo.AutomationServer_Alert (
    ID                       int IDENTITY(1,1) NOT NULL CONSTRAINT PK_AutomationServer_Alert PRIMARY KEY,
    Item                     nvarchar(50) NOT NULL,
    Category                 nvarchar(50) NULL,
    EmailContractManager     bit NULL CONSTRAINT DF_Alert_EmailContractManager DEFAULT (0),
    EmailContractSpecialist  bit NULL CONSTRAINT DF_Alert_EmailContractSpecialist DEFAULT (0),
    EmailClient              bit NULL CONSTRAINT DF_Alert_EmailClient DEFAULT (0),
    DaysInAdvance            int NULL,
    CreateIssue              bit NULL CONSTRAINT DF_Alert_CreateIssue DEFAULT (0),
    CreateIssueDaysInAdvance int NULL,
    IssuePriority            nvarchar(20) NULL,
    AutoCloseIssue           bit NULL CONSTRAINT DF_Alert_AutoCloseIssue DEFAULT (0)
);
CREATE INDEX IX_AutomationServer_Alert_Item ON dbo.AutomationServer_Alert (Item);

-- The outgoing email queue.
CREATE TABLE dbo.AutomationServer_EmailsSent (
    ID            int IDENTITY(1,1) NOT NULL CONSTRAINT PK_AutomationServer_EmailsSent PRIMARY KEY,
    EmailFrom     nvarchar(100) NULL,
    EmailFromName nvarchar(100) NULL,
    EmailTo       nvarchar(1000) NULL,
    EmailSubject  nvarchar(500) NULL,
    EmailBody     nvarchar(max) NULL,
    EmailSent     bit NOT NULL CONSTRAINT DF_EmailsSent_EmailSent DEFAULT (0),
    DateSent      datetime NULL
);
-- EmailTo is wider than an index key may be; the flag does the selecting.
CREATE INDEX IX_AutomationServer_EmailsSent_EmailSent ON dbo.AutomationServer_EmailsSent (EmailSent) INCLUDE (EmailTo);

-- The log of notifications produced: one row per training record and
-- renewal date.
CREATE TABLE dbo.AutomationServer_Emails (
    ID                 int IDENTITY(1,1) NOT NULL CONSTRAINT PK_AutomationServer_Emails PRIMARY KEY,
    EmailDate          datetime NULL,
    Category           nvarchar(50) NULL,
    Item               nvarchar(50) NULL,
    ItemID             int NULL,
    ItemKey            datetime NULL,
    ContractManager    bit NULL,
    ContractSpecialist bit NULL,
    Client             bit NULL
);
-- A training's log rows are found by ItemID and, where ItemKey is a date-time
-- column, its renewal date: both are seek keys, and the rest of the join
-- (Category, Item) is read from the index.
CREATE INDEX IX_AutomationServer_Emails_ItemID ON dbo.AutomationServer_Emails (ItemID, ItemKey) INCLUDE (Category, Item);

CREATE TABLE dbo.Employee (
    ID        int IDENTITY(1,1) NOT NULL CONSTRAINT PK_Employee PRIMARY KEY,
    FirstName nvarchar(50) NULL,
    LastName  nvarchar(50) NULL,
    Email     nvarchar(100) NULL
);

CREATE TABLE dbo.ServiceContract (
    ID                  int IDENTITY(1,1) NOT NULL CONSTRAINT PK_ServiceContract PRIMARY KEY,
    ContractNumber      nvarchar(30) NULL,
    CustomerName        nvarchar(100) NULL,
    Status              nvarchar(20) NULL,
    PrimaryContactEmail nvarchar(100) NULL,
    ContractManagerID   int NULL,
    EmailEmployee       nvarchar(100) NULL,
    EmailContract       nvarchar(100) NULL
);
CREATE INDEX IX_ServiceContract_ContractManagerID ON dbo.ServiceContract (ContractManagerID);

CREATE TABLE dbo.ServiceContractSpecialist (
    ID                int IDENTITY(1,1) NOT NULL CONSTRAINT PK_ServiceContractSpecialist PRIMARY KEY,
    ServiceContractID int NOT NULL,
    EmployeeID        int NOT NULL
);
CREATE INDEX IX_ServiceContractSpecialist_ServiceContractID ON dbo.ServiceContractSpecialist (ServiceContractID);
CREATE INDEX IX_ServiceContractSpecialist_EmployeeID ON dbo.ServiceContractSpecialist (EmployeeID);

CREATE TABLE dbo.CustomerEmployee (
    ID         int IDENTITY(1,1) NOT NULL CONSTRAINT PK_CustomerEmployee PRIMARY KEY,
    FirstName  nvarchar(50) NULL,
    MiddleName nvarchar(50) NULL,
    LastName   nvarchar(50) NULL,
    Suffix     nvarchar(10) NULL,
    Suspended  bit NULL CONSTRAINT DF_CustomerEmployee_Suspended DEFAULT (0),
    Terminated bit NULL CONSTRAINT DF_CustomerEmployee_Terminated DEFAULT (0)
);

-- A training course; Renews is its validity in months.
CREATE TABLE dbo.TrainingItem (
    ID       int IDENTITY(1,1) NOT NULL CONSTRAINT PK_TrainingItem PRIMARY KEY,
    Name     nvarchar(100) NULL,
    Renews   int NULL,
    Optional bit NULL CONSTRAINT DF_TrainingItem_Optional DEFAULT (0)
);

CREATE TABLE dbo.CustomerEmployeeTraining (
    ID             int IDENTITY(1,1) NOT NULL CONSTRAINT PK_CustomerEmployeeTraining PRIMARY KEY,
    Completed      bit NULL CONSTRAINT DF_CustomerEmployeeTraining_Completed DEFAULT (0),
    CompletedDate  datetime NULL,
    TrainingItemID int NULL,
    EmployeeID     int NULL,
    ContractID     int NULL
);
CREATE INDEX IX_CustomerEmployeeTraining_ContractID ON dbo.CustomerEmployeeTraining (ContractID);
CREATE INDEX IX_CustomerEmployeeTraining_EmployeeID ON dbo.CustomerEmployeeTraining (EmployeeID);
CREATE INDEX IX_CustomerEmployeeTraining_TrainingItemID ON dbo.CustomerEmployeeTraining (TrainingItemID);

-- Follow-up issues of the host application; automatic ones carry AUTO_Item
-- and the renewal date in AUTO_Date.
CREATE TABLE dbo.Issues (
    ID          int IDENTITY(1,1) NOT NULL CONSTRAINT PK_Issues PRIMARY KEY,
    ContractID  int NULL,
    Category    nvarchar(50) NULL,
    ItemID      int NULL,
    ItemDesc    nvarchar(500) NULL,
    IssueDate   datetime NULL,
    DueDate     datetime NULL,
    Description nvarchar(max) NULL,
    Status      nvarchar(20) NULL,
    Priority    nvarchar(20) NULL,
    EnteredBy   nvarchar(50) NULL,
    EnteredDate datetime NULL,
    EditedBy    nvarchar(50) NULL,
    EditedDate  datetime NULL,
    AUTO_Item   nvarchar(50) NULL,
    AUTO_Date   datetime NULL
);
-- The same for a training's automatic issues (ItemID, AUTO_Date).
CREATE INDEX IX_Issues_ItemID ON dbo.Issues (ItemID, AUTO_Date) INCLUDE (EnteredBy, AUTO_Item);
CREATE INDEX IX_Issues_ContractID ON dbo.Issues (ContractID);

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
CREATE TABLE dbo.AutomationServer_EmailQueueState (
    EmailTo     nvarchar(max) NOT NULL,
    Attempts    int NOT NULL,
    LastReply   nvarchar(max) NULL,
    NextTry     nvarchar(19) NULL
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
CREATE TABLE dbo.AutomationServer_EmailRowState (
    EmailID     int NOT NULL,
    EmailTo     nvarchar(max) NULL,
    Since       nvarchar(19) NOT NULL,
    Refusal     nvarchar(max) NULL
);

-- The server's own: the OAuth 2.0 sign-in of the mail server (SASL XOAUTH2),
-- one row; no row means a password sign-in. The server creates it when
-- missing. With a row the login is for the mailbox AutomationServerEmailUser
-- of Company, with a bearer token from TokenEndpoint (https): an empty
-- RefreshToken asks with the client-credentials grant (ClientId, ClientSecret,
-- Scope), a set one with the refresh-token grant, and a new refresh token the
-- provider returns replaces the stored one. ClientSecret and RefreshToken are
-- secrets: grant this table to the server's login alone.
CREATE TABLE dbo.AutomationServer_MailOAuth2 (
    TokenEndpoint nvarchar(2048) NOT NULL,
    ClientId      nvarchar(255) NOT NULL,
    ClientSecret  nvarchar(max) NULL,
    Scope         nvarchar(1024) NULL,
    RefreshToken  nvarchar(max) NULL
);
