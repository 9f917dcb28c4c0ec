// The error catalogue of the 4GL: every error number with its name and
// its text. Numbers without a text, and those whose text says they are
// unused, are reserved and never raised. Errors are recorded by name
// (err_vlx(kErrInternal, ...)); Errcat holds the texts by number, for when
// no message file is loaded.
// ORDER ERRCAT: install/lan/ENG chapter 13 holds the same texts, line for
// line; the numbers run from 0 without a gap.
#pragma once

#define VLX_ERRCAT(X) \
  X(  0, kErrDefault, "Default exception") \
  X(  1, kErrNoCloseParen, "Missing closing parenthesis") \
  X(  2, kErrNoOpenParen, "Missing opening parenthesis") \
  X(  3, kErrNoComma, "Missing comma") \
  X(  4, kErrUnknownFunction, "Unknown function") \
  X(  5, kErrSyntax, "Syntax error") \
  X(  6, kErrNoVariable, "Non-existent variable") \
  X(  7, kErrNoClass, "Non-existent class") \
  X(  8, kErrBadIndex, "Incorrect index") \
  X(  9, kErrNoCurrentZone, "Current zone not defined") \
  X( 10, kErrCalcMode, "Invalid calcul mode") \
  X( 11, kErrSqrtNegative, "Square root of negative number") \
  X( 12, kErrTrigonometric, "Trigonometric computation error") \
  X( 13, kErrOverflow, "Numeric overflow") \
  X( 14, kErrLogNegative, "Logarithmic error on negative number") \
  X( 15, kErrHyperbolic, "Hyperbolic trigonometric computation error") \
  X( 16, kErrFactorial, "Factorial computation error") \
  X( 17, kErrNegativeIndex, "Negative index error") \
  X( 18, kErrLabelId, "Label Id error") \
  X( 19, kErrFileFormat, "Invalid file format") \
  X( 20, kErrFileNotFound, "File not found") \
  X( 21, kErrNoKey, "Non-existent key") \
  X( 22, kErrReadMode, "Invalid read mode") \
  X( 23, kErrIsam, "ISAM management error") \
  X( 24, kErrSeqFile, "Seq file management error") \
  X( 25, kErrSystem, "System error") \
  X( 26, kErrInternal, "Internal error") \
  X( 27, kErrAccess, "File access error") \
  X( 28, kErrOpenedTwice, "File opened twice") \
  X( 29, kErrTooManyFiles, "Too many open files") \
  X( 30, kErrTooManyMaskFiles, "Too many files associated to mask") \
  X( 31, kErrNoMemory, "No more memory") \
  X( 32, kErrForNesting, "For/Ret invalid imbrication") \
  X( 33, kErrToken, "Invalid token") \
  X( 34, kErrVariableCreation, "Variable creation error") \
  X( 35, kErrNoGrid, "Non-existent grid") \
  X( 36, kErrNoWindow, "Non-existent window") \
  X( 37, kErrAbbreviationOnScreen, "Abbreviation already exists on another screen") \
  X( 38, kErrTooManyPrograms, "Too many running programs") \
  X( 39, kErrLabel, "Invalid label") \
  X( 40, kErrUnused40, "UNUSED ERROR - CAN BE REDEFINED") \
  X( 41, kErrNullStep, "Step value is null") \
  X( 42, kErrTooManyScreens, "Too many opened screens") \
  X( 43, kErrLocked, "File locked") \
  X( 44, kErrDiskFull, "No more space on disk") \
  X( 45, kErrReserved45, "") \
  X( 46, kErrPrinter, "Printer opening error") \
  X( 47, kErrScreen, "Invalid screen") \
  X( 48, kErrNoTransaction, "No transaction in progress") \
  X( 49, kErrInTransaction, "Transaction already in progress") \
  X( 50, kErrDomain, "Domain error") \
  X( 51, kErrIsamDecimal, "C-ISAM dcb error") \
  X( 52, kErrLogZero, "Log(0) calculation error") \
  X( 53, kErrDivideByZero, "Divide by zero error") \
  X( 54, kErrReserved54, "") \
  X( 55, kErrTooManyDimensions, "Too many dimensions") \
  X( 56, kErrDate, "Invalid date") \
  X( 57, kErrNoSeek, "No seek on stdio") \
  X( 58, kErrMessageFile, "Message file error") \
  X( 59, kErrTooManyGrids, "Too many grids open") \
  X( 60, kErrNoChannel, "No more channel available") \
  X( 61, kErrVariableExists, "Variable already existing") \
  X( 62, kErrReadOnlyVariable, "Read-only variable") \
  X( 63, kErrNoExclusive, "Exclusive access not possible") \
  X( 64, kErrNoProcess, "Non-existent process") \
  X( 65, kErrUlimit, "ulimit reached") \
  X( 66, kErrFileName, "Invalid file name") \
  X( 67, kErrReserved67, "") \
  X( 68, kErrReserved68, "") \
  X( 69, kErrParameterCount, "Invalid parameters number") \
  X( 70, kErrParameterType, "Invalid parameter type") \
  X( 71, kErrCloseInTransaction, "Closure impossible during a transaction") \
  X( 72, kErrReserved72, "") \
  X( 73, kErrNoApplication, "Non-existent application") \
  X( 74, kErrReserved74, "") \
  X( 75, kErrDatabaseA, "Oracle error") \
  X( 76, kErrDatabaseB, "SQL Server error") \
  X( 77, kErrTooManyMenuOptions, "Too many menu options") \
  X( 78, kErrTransactionFile, "Transaction file error") \
  X( 79, kErrTooManyWindows, "Too many open windows") \
  X( 80, kErrTerminal, "Error in the initialization of the terminal") \
  X( 81, kErrNoZone, "Non-existent zone") \
  X( 82, kErrTooManyForms, "Too many forms opened") \
  X( 83, kErrFormOpen, "Form already opened") \
  X( 84, kErrObjectExists, "Object already exists") \
  X( 85, kErrTooManySlots, "Too many slots") \
  X( 86, kErrNoSlot, "Non-existent slot") \
  X( 87, kErrSlotExists, "Slot already exists") \
  X( 88, kErrPermission, "Permission error") \
  X( 89, kErrDatabaseC, "DB2 IBM error") \
  X( 90, kErrScript, "VBScript error") \
  X( 91, kErrTooManyLinks, "Too many links") \
  X( 92, kErrDuplicateKey, "Duplicate key") \
  X( 93, kErrDirectory, "LDAP error") \
  X( 94, kErrKrbAuthentication, "Kerberos authentication error") \
  X( 95, kErrKrbTimeout, "Kerberos authentication timeout") \
  X( 96, kErrKrbRefused, "Kerberos authentication refused") \
  X( 97, kErrKrbDelegation, "Kerberos delegation error") \
  X( 98, kErrKrbClockSkew, "Kerberos clock skew too great") \
  X( 99, kErrFirstHda, "FIRST_HDA overriding") \
  X(100, kErrArchiveValue, "Archive invalid value") \
  X(101, kErrArchiveLock, "Archive lock error") \
  X(102, kErrArchiveUnlock, "Archive unlock error") \
  X(103, kErrIndexLock, "Index lock error") \
  X(104, kErrIndexUnlock, "Index unlock error") \
  X(105, kErrTooManyConstants, "Too many constants") \
  X(106, kErrUnreachableTable, "Unreachable table") \
  X(107, kErrNotInArchive, "File not found in archive") \
  X(108, kErrFileNameLength, "File name is more than 12 characters") \
  X(109, kErrNoUser, "Non-existent user or role") \
  X(110, kErrNotStructure, "Variable is not a structure") \
  X(111, kErrStructureOperation, "Operation on structure variable") \
  X(112, kErrNoMember, "Non-existent stc member") \
  X(113, kErrNotSubprogram, "Non subprog label") \
  X(114, kErrNotMethod, "Non method label") \
  X(115, kErrNoCurrentObject, "No current object") \
  X(116, kErrNoXmlObject, "No current XML object") \
  X(117, kErrFlushInCommit, "No flush during commit") \
  X(118, kErrUnknownAbbreviation, "Unknown abbreviation") \
  X(119, kErrAbbreviationExists, "Abbreviation already exists") \
  X(120, kErrTooManyXmlFiles, "Too many XML files open") \
  X(121, kErrTooManyAttributes, "Too many attributes for node") \
  X(122, kErrNoFileName, "No file name") \
  X(123, kErrNoAbbreviation, "No abbreviation") \
  X(124, kErrNoNodeName, "No node name") \
  X(125, kErrNoNode, "No node exists") \
  X(126, kErrChannelOpen, "Channel is already open") \
  X(127, kErrUtf8, "UTF8 transcoding error") \
  X(128, kErrScriptSize, "Script too huge") \
  X(129, kErrRemoteServer, "Remote processing server error") \
  X(130, kErrNetworkService, "Network error") \
  X(131, kErrNoComResource, "Non-existing communication resource") \
  X(132, kErrParameterDeclaration, "Parameter type declaration") \
  X(133, kErrReference, "Null or invalid reference") \
  X(134, kErrOutOfBounds, "Out of bonds declaration") \
  X(135, kErrSerialization, "Serialization error") \
  X(136, kErrVersionControl, "Version control error") \
  X(137, kErrTreeFull, "AVL tree saturation") \
  X(138, kErrNetwork, "Network error") \
  X(139, kErrXmlConversion, "XML conversion error") \
  X(140, kErrChecksumSize, "MD5 Checksum cannot be computed on structures of size higher than 4096") \
  X(141, kErrSocketWrite, "Socket writing error") \
  X(142, kErrTooManyBreakpoints, "Breakpoints limit number reached") \
  X(143, kErrNoBreakpoint, "Non-existing breakpoint") \
  X(144, kErrParser, "Parser error") \
  X(145, kErrUnused145, "UNUSED ERROR - CAN BE REDEFINED") \
  X(146, kErrClientRaised, "Error raised by client") \
  X(147, kErrReadOnlyProperty, "Read-only property") \
  X(148, kErrNoSnapshot, "No snapshot") \
  X(149, kErrAccessorLoop, "Loop error in accessor") \
  X(150, kErrUnused150, "UNUSED ERROR - CAN BE REDEFINED") \
  X(151, kErrUuid, "Invalid Uuid format") \
  X(152, kErrReadOnlyInstance, "Read-only instance") \
  X(153, kErrSocketRead, "Socket reading error") \
  X(154, kErrReturnType, "Type returned invalid") \
  X(155, kErrSnapshotInstance, "Snapshot instance") \
  X(156, kErrUnused156, "UNUSED ERROR - CAN BE REDEFINED") \
  X(157, kErrInstance, "Invalid instance or group") \
  X(158, kErrVirtualClass, "Requested class is virtual") \
  X(159, kErrTokenLength, "Token is too long") \
  X(160, kErrStackFull, "Stack full") \
  X(161, kErrAuthentication, "Authentication error") \
  X(162, kErrFreeBeforeSnapshot, "freeInstance before snapshot") \
  X(163, kErrPutseqExtension, "Ext not supported by Putseq") \
  X(164, kErrProtocol, "Incompatible protocol") \
  X(165, kErrValidation, "Object validation") \
  X(166, kErrObject, "Invalid object") \
  X(167, kErrCallSequence, "Invalid call sequence") \
  X(168, kErrOperatorRequired, "Operator required") \
  X(169, kErrUnreachableVariable, "Variable not reachable") \
  X(170, kErrSystemNotAllowed, "System not allowed") \
  X(171, kErrAuthenticationType, "Invalid authentication type")

enum vlx_error : short {
#define VLX_ERROR_NAME(number, name, text) name = number,
  VLX_ERRCAT(VLX_ERROR_NAME)
#undef VLX_ERROR_NAME
};

inline constexpr int kErrcatSize = 172;
// 172 entries of two 86-byte texts, the first filled.
extern const char Errcat[kErrcatSize][2][86];
