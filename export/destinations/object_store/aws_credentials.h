#pragma once
// The keys of an S3 user, taken the way the ecosystem's tools take them: the
// environment first, then a profile of the shared credentials file. The
// secret never goes into a message.

#include <string>

namespace exports {

struct AwsKeys {
    std::string accessKey;
    std::string secretKey;
    std::string sessionToken;  // temporary keys only; sent as x-amz-security-token
};

// The profile's keys in the text of a credentials file (INI: [profile] then
// aws_access_key_id / aws_secret_access_key); throws naming what is missing.
AwsKeys parseCredentialsText(const std::string& text, const std::string& profile);

// AWS_ACCESS_KEY_ID / AWS_SECRET_ACCESS_KEY (and AWS_SESSION_TOKEN) when set,
// refused when only some are; else the profile of
// AWS_SHARED_CREDENTIALS_FILE or ~/.aws/credentials, refused when the file
// can be read by its group or by others. The profile is `profile` when not
// empty, else AWS_PROFILE, else "default". From the first call on the process
// leaves no core dump.
AwsKeys loadAwsKeys(const std::string& profile);

// The profile loadAwsKeys reads for a NuvemPerfil ("" when absent).
std::string credentialsProfile(const std::string& configured);

}  // namespace exports
