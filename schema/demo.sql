-- A small demo for the embedded backend (run after sqlite.sql). Dates are
-- relative to the day it is loaded, so the demo always has work to do:
-- training overdue, due within 14 days (automatic issues), due within 30 days
-- (notifications only), and far in the future (nothing). Mail goes to a
-- local test server on 127.0.0.1:2525.

INSERT INTO Company (Name, Address1, Address2, City, State, Zip, Phone, Fax, Email, Website,
    AutomationServerPoll, AutomationServerEmailFrom, AutomationServerEmailServer,
    AutomationServerEmailServerPort, AutomationServerEmailUser, AutomationServerEmailPassword,
    AutomationServerEmailUseSSLTLS, AutomationServerEmailFooter)
VALUES ('Velmar Training Services', '1200 Harbor Way', 'Suite 300', 'Portland', 'OR', '97201',
    '(503) 555-0142', '(503) 555-0143', 'office@example.com', 'www.example.com',
    1, 'alerts@example.com', '127.0.0.1', '2525', '', '', 0,
    'Velmar Training Services - Compliance Desk' || char(13, 10) ||
    'This notice was generated automatically; please contact your contract manager with any questions.');

INSERT INTO AutomationServer_Alert (Item, Category, EmailContractManager, EmailContractSpecialist, EmailClient,
    DaysInAdvance, CreateIssue, CreateIssueDaysInAdvance, IssuePriority, AutoCloseIssue)
VALUES ('Training Expire', 'Contract', 1, 1, 1, 30, 1, 14, 'High', 1);

-- Staff: contract managers and specialists.
INSERT INTO Employee (ID, FirstName, LastName, Email) VALUES (1, 'Maria', 'Grant', 'maria.grant@example.com');
INSERT INTO Employee (ID, FirstName, LastName, Email) VALUES (2, 'Tom', 'Reyes', 'tom.reyes@example.com');
INSERT INTO Employee (ID, FirstName, LastName, Email) VALUES (3, 'Priya', 'Shah', 'priya.shah@example.com');
INSERT INTO Employee (ID, FirstName, LastName, Email) VALUES (4, 'Lee', 'Chen', 'lee.chen@example.com');
INSERT INTO Employee (ID, FirstName, LastName, Email) VALUES (5, 'Dana', 'Cole', NULL);

INSERT INTO ServiceContract (ID, ContractNumber, CustomerName, Status, PrimaryContactEmail, ContractManagerID, EmailEmployee, EmailContract)
VALUES (1, 'SC-1001', 'Harbor Freight Lines', 'Active', 'ops@harbor.example.org', 1, 'hr@harbor.example.org', 'safety@harbor.example.org');
INSERT INTO ServiceContract (ID, ContractNumber, CustomerName, Status, PrimaryContactEmail, ContractManagerID, EmailEmployee, EmailContract)
VALUES (2, 'SC-1002', 'Northwind Clinics', 'Active', 'admin@northwind.example.org', 2, 'people@northwind.example.org', 'compliance@northwind.example.org');
INSERT INTO ServiceContract (ID, ContractNumber, CustomerName, Status, PrimaryContactEmail, ContractManagerID, EmailEmployee, EmailContract)
VALUES (3, 'SC-1003', 'O''Connell & Sons Builders', 'Active', 'office@oconnell.example.org', 1, 'crew@oconnell.example.org', 'contracts@oconnell.example.org');
INSERT INTO ServiceContract (ID, ContractNumber, CustomerName, Status, PrimaryContactEmail, ContractManagerID, EmailEmployee, EmailContract)
VALUES (4, 'SC-0987', 'Riverside Foods', 'Inactive', 'info@riverside.example.org', 2, 'staff@riverside.example.org', 'legal@riverside.example.org');

INSERT INTO ServiceContractSpecialist (ServiceContractID, EmployeeID) VALUES (1, 3);
INSERT INTO ServiceContractSpecialist (ServiceContractID, EmployeeID) VALUES (1, 4);
INSERT INTO ServiceContractSpecialist (ServiceContractID, EmployeeID) VALUES (2, 3);
INSERT INTO ServiceContractSpecialist (ServiceContractID, EmployeeID) VALUES (3, 5);
INSERT INTO ServiceContractSpecialist (ServiceContractID, EmployeeID) VALUES (4, 4);

INSERT INTO TrainingItem (ID, Name, Renews, Optional) VALUES (1, 'First Aid', 24, 0);
INSERT INTO TrainingItem (ID, Name, Renews, Optional) VALUES (2, 'Forklift Operation', 36, 0);
INSERT INTO TrainingItem (ID, Name, Renews, Optional) VALUES (3, 'Fire Safety', 12, 0);
INSERT INTO TrainingItem (ID, Name, Renews, Optional) VALUES (4, 'Ergonomics Refresher', 12, 1);
INSERT INTO TrainingItem (ID, Name, Renews, Optional) VALUES (5, 'Confined Space Entry', 24, 0);

INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (1, 'Jane', 'Q', 'Doe', 'III', 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (2, 'Sean', NULL, 'O''Brien', NULL, 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (3, 'Amy', 'L', 'Park', NULL, 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (4, 'Carlos', 'M', 'Diaz', 'Jr.', 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (5, 'Beth', 'A', 'Turner', NULL, 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (6, 'Omar', NULL, 'Haddad', NULL, 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (7, 'Grace', 'K', 'Liu', NULL, 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (8, 'Peter', 'J', 'Novak', NULL, 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (9, 'Rosa', 'E', 'Alvarez', NULL, 0, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (10, 'Ken', 'T', 'Sato', NULL, 1, 0);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (11, 'Lisa', 'M', 'Hart', NULL, 0, 1);
INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suffix, Suspended, Terminated) VALUES (12, 'Mark', 'W', 'Evans', NULL, 0, 0);

-- Each completion date is set so that completion + Renews months falls the
-- stated number of days from today.
-- Overdue.
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-24 months', '-10 days'), 1, 1, 1);
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-12 months', '-40 days'), 3, 6, 2);
-- Due within 14 days: notified and given an automatic issue.
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-24 months', '+5 days'), 1, 2, 1);
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-36 months', '+10 days', '+14 hours', '+30 minutes'), 2, 3, 1);
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-24 months', '+12 days'), 5, 7, 3);
-- Due within 30 days: notified only.
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-12 months', '+20 days'), 3, 4, 1);
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-24 months', '+25 days'), 1, 8, 2);
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-36 months', '+29 days'), 2, 12, 3);
-- Far in the future.
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-24 months', '+400 days'), 1, 5, 2);
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-12 months', '+200 days'), 3, 9, 3);
-- Never notified: suspended, terminated, optional training, inactive contract.
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-24 months', '+3 days'), 1, 10, 1);
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-24 months', '+3 days'), 1, 11, 2);
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-12 months', '+7 days'), 4, 9, 3);
INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)
VALUES (1, datetime('now', 'localtime', 'start of day', '-24 months', '+8 days'), 1, 12, 4);
