#pragma once
// The keys of an S3 user, taken the way the ecosystem's tools take them: the
// environment first, then a profile of the shared credentials file. The
// secret never goes into a message.

#include <string>

namespace exports {

struct AwsKeys {
    std::string accessKey;
    std::string secretKey;
};

// The profile's keys in the text of a credentials file (INI: [profile] then
// aws_access_key_id / aws_secret_access_key); throws naming what is missing.
AwsKeys parseCredentialsText(const std::string& text, const std::string& profile);

// AWS_ACCESS_KEY_ID / AWS_SECRET_ACCESS_KEY when both are set; else the
// profile of AWS_SHARED_CREDENTIALS_FILE or ~/.aws/credentials, refused when
// the file can be read by its group or by others.
AwsKeys loadAwsKeys(const std::string& profile);

}  // namespace exports
